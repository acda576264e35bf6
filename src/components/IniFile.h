#pragma once

#include "components/IniDocument.h"

#include <QString>

#include <cstdint>

// Reading an INI file from the host: never one larger than the limit, never anything but a
// regular file, and with the stamp that tells later whether the file changed since.
namespace IniFile {

// The largest file that is read (1 MB, as the program counts: thousands, not 1024s).
inline constexpr std::int64_t kMaxBytes = 1'000'000;

// What stat tells of a file: enough to see that it changed since it was read, with one stat.
struct Stamp
{
    enum class Kind
    {
        Unknown, // stat failed for another reason than a missing file
        Missing,
        Regular,
        Other // a folder, a named pipe, a device or a socket
    };
    Kind kind = Kind::Unknown;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;

    bool operator==(const Stamp&) const = default;
};

// The stamp of the file at a host path (a link followed).
Stamp stampOf(const QString& hostPath);

struct Contents
{
    enum class Outcome
    {
        Read,
        Missing,
        TooLarge, // larger than kMaxBytes: nothing of it is read
        Failed    // error tells why, in the system's words
    };
    Outcome outcome = Outcome::Failed;
    IniDocument document{};
    Stamp stamp{}; // of the file as it was read
    QString error{};
};

// Reads the file at a host path, as far as it can be understood (IniDocument::parse). A signal
// that asks the program to stop ends a long read with the run-time error of Interruption::check.
Contents read(const QString& hostPath);

} // namespace IniFile
