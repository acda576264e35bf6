#pragma once

#include "base/CHandle.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <sys/types.h>

#include <vector>

// Which file a path or descriptor leads to, however it is named.
struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
    static FileIdentity of(const struct stat& st) { return {st.st_dev, st.st_ino}; }
};

// The files a package must neither pack nor replace while it is written: its own temporary file,
// and the regular files standing at its path and at the paths written beside it (the checksum).
// Those are held open for the whole build, so the identity of each stays its own: a file that
// goes, and a new one that takes its inode number, is never taken for it.
class OutputGuard
{
public:
    enum class Hit
    {
        None,
        Temporary,     // the package's own temporary file
        EarlierOutput, // what the package (or the file beside it) will replace
    };

    // What an output is: the package, or a file written beside it.
    enum class Output
    {
        Package,
        Checksum,
        Names, // the map of the names replaced
    };
    // The outputs are host paths; a link standing at one is not followed, as the output replaces
    // the link, not what it leads to.
    OutputGuard(FileIdentity temporary, const std::vector<std::pair<Output, QByteArray>>& outputs);
    OutputGuard(const OutputGuard&) = delete;
    OutputGuard& operator=(const OutputGuard&) = delete;

    // What an input, seen through its open descriptor, is to the package.
    Hit check(const struct stat& input) const;
    // How many of an input's first bytes isEarlierOutput looks at.
    static constexpr qsizetype kHead = 512;
    // Whether an input found by a pattern that is an earlier output may be left out quietly, by
    // its first bytes: an earlier package (it starts like a zip file), an earlier checksum (one
    // line as sha256sum writes it) or an earlier map of names. Any other file at an output's path is
    // one the build packs, and the build fails.
    bool isEarlierOutput(const struct stat& input, const QByteArray& head) const;

    // The reason a build fails when its package, or the file beside it, would replace one of its
    // inputs (an earlier output, by check).
    QString inputReason(const struct stat& input, const QString& handed) const;

private:
    struct Held
    {
        UniqueFd fd;
        FileIdentity identity;
        Output output = Output::Package;
    };
    const Held* find(const struct stat& input) const;

    FileIdentity m_temporary;
    std::vector<Held> m_held;
};
