#pragma once

#include "base/CHandle.h"

#include <QString>
#include <QStringList>

#include <optional>

// The private folder of a collect run's master connections: BASE/ts6c-XXXXXX, 0700, short enough
// for a socket's name. The run holds a lock on the folder as long as it lives; a run that was
// killed lets go of it with its last descriptor, so the next run finds the folder unlocked and
// removes it with whatever sockets were left in it.
class ControlFolder
{
public:
    // Removes the folders of dead runs from base, then makes and locks this run's own. None, with
    // the reason, when it cannot be made.
    static std::optional<ControlFolder> create(const QString& base, QString* why);
    ~ControlFolder();
    ControlFolder(ControlFolder&&) noexcept = default;
    ControlFolder& operator=(ControlFolder&& other) noexcept;

    const QString& path() const { return m_path; }

private:
    void remove() noexcept;
    ControlFolder(QString path, UniqueFd folder) : m_path(std::move(path)), m_folder(std::move(folder)) {}

    QString m_path;
    UniqueFd m_folder; // open, and locked, while the run lives
};

// The control folders in base of runs no longer alive (the user's own, private, no link, not
// locked), removed; their names.
QStringList removeStaleControlFolders(const QString& base);
