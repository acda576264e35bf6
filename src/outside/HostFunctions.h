#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The file-system services of the host, on Windows-style path texts. The host layer maps them
// onto the Linux file system through the drive map; every lookup is case-blind.
namespace Host {

struct Attributes
{
    bool directory = false;
    bool hidden = false;
    bool regularFile = false; // a regular file or a link to one: no folder, pipe or device
};

enum class ListFilter
{
    Everything,      // files and folders, hidden ones too, "." and ".." when they match
    FoldersAndFiles, // a listing with the directory mask: no hidden entries
    FilesOnly,       // a listing with normal attributes: files that are not hidden, no folders
};

// For its lifetime (one catalogue load, one build), each folder is listed at most once, however
// often it changes meanwhile: lookups cost the same in a folder that others keep changing.
class ListingScope
{
public:
    ListingScope();
    ~ListingScope();
    ListingScope(const ListingScope&) = delete;
    ListingScope& operator=(const ListingScope&) = delete;
};

// True when the path names an existing file or folder.
bool pathExists(const QString& path);
std::optional<Attributes> getAttributes(const QString& path);

// The names that "folder\pattern" finds, in listing order. A trailing separator (empty pattern)
// lists the folder's "." entry, so it finds a name exactly when the folder exists.
QStringList findNames(const QString& folderAndPattern, ListFilter filter);

// The common application-data folder, Windows-style, without trailing "\".
QString commonAppDataFolder();
// The user's own temporary folder, Windows-style: TMPDIR when only this user can write to it,
// otherwise (unset, or shared like /tmp) the folder "ts6satchel-<uid>" inside it, made with mode
// 0700 and used only when it is a real folder of this user. Empty, with the reason in why, when
// there is none.
QString tempFolder(QString* why = nullptr);
// The dotted version of a Windows program file's version resource; empty for anything else.
QString fileVersion(const QString& path);
// The host path of a Windows-style path for opening: the existing file, or the place to create one.
// When there is none, whyNot (when given) tells a person why: "No such file or directory",
// "File name too long", "Invalid file name".
std::optional<QString> hostPathForReading(const QString& path, QString* whyNot = nullptr);
std::optional<QString> hostPathForWriting(const QString& path, QString* whyNot = nullptr);

} // namespace Host
