#pragma once

#include "base/CHandle.h"

#include <QByteArray>
#include <QString>

// File names on the host are bytes; the program's texts are Unicode. Names that are valid UTF-8
// convert as they are; each byte of a name that is not becomes U+DC80..U+DCFF and converts back
// to the same byte, so such a file can still be found and read, never mistaken for another.
namespace HostName {

QString decode(const char* bytes, qsizetype size = -1);
QByteArray encode(const QString& name);
// Whether a name holds bytes that are not UTF-8.
bool hasRawBytes(const QString& name);

// One host name as one component of an entry name in the package: a name that a reader could take
// as more than one component, or as none, is percent-encoded where it would be ("\\" as %5C, a
// name ".." or one ending in blanks or dots with those as %2E and %20), and "%" is always %25, so
// no two names give one entry. Every other name stays as it is.
QString entryComponent(const QString& name);

bool isDirectory(const QString& hostPath);
// A regular file, or a link to one.
bool isRegularFile(const QString& hostPath);
// Something stands at the path that is not a regular file nor a link to one: a folder, a named
// pipe, a device or a socket. Such a thing is never read as a file nor replaced by one.
bool isOtherThanRegularFile(const QString& hostPath);
bool exists(const QString& hostPath);
// Whether two host paths name the same entry of the same folder (the folders compared by what they
// are, however they are reached; the names byte for byte): a file written at one replaces the other.
bool sameEntry(const QString& first, const QString& second);

// Opens a regular file (or a link to one) for reading without ever blocking: a named pipe, a
// socket or a device is refused, never opened in a way that waits. The descriptor, or none with
// the reason in error.
UniqueFd openRegularFile(const QString& hostPath, QString& error);

} // namespace HostName
