#pragma once

#include "base/CHandle.h"

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/types.h>

// A case folder, held open for the whole run: every file and folder collect reads or writes in it
// is reached from this descriptor, one name at a time, without following a link, and is taken only
// when it is the user's own and no one else may write it. What another user planted in a case
// (a link at hosts/HOST or at a log, an index of someone else's) is refused, not followed.
class CaseFolder
{
public:
    // The folder at path, made (with the folders above it) when it is not there; a new one is
    // private (0700). None, with a reason naming the path, when it cannot be made or is not taken.
    static std::optional<CaseFolder> create(const QString& path, QString* why);
    // An existing folder at path, taken on the same terms.
    static std::optional<CaseFolder> open(const QString& path, QString* why);

    const QString& path() const { return m_path; }
    int fd() const { return m_fd.get(); }

    // Whether something (a link too) stands at name in the folder.
    bool holds(const QString& name) const;
    // The whole of the file name of the user's own, of at most maxBytes.
    std::optional<QByteArray> readFile(const QString& name, qint64 maxBytes, QString* why) const;
    // Replaces the file name as a whole (a link there is replaced, not followed), private (0600).
    bool writeFile(const QString& name, const QByteArray& bytes, QString* why) const;
    // The folder at relative ("hosts/HOST"), each level made private when missing or else entered
    // only when it is the user's own folder and no link.
    UniqueFd enterFolder(const QString& relative, QString* why) const;

private:
    CaseFolder(QString path, UniqueFd fd) : m_path(std::move(path)), m_fd(std::move(fd)) {}

    QString m_path;
    UniqueFd m_fd;
};

// Opens the folder name in the open folder as a folder of the user's own that no one else may
// write, without following a link; shown names it in the reason.
UniqueFd openOwnFolderAt(int folder, const QByteArray& name, const QString& shown, QString* why);
// Makes (when missing, with mode) or enters the folder name in the open folder, taken on the
// same terms.
UniqueFd enterOwnFolderAt(int folder, const QByteArray& name, mode_t mode, const QString& shown,
                          QString* why);
