#pragma once

#include <QString>
#include <QStringList>

// The user's own folders on the host. The home folder is HOME, or the one the user database
// names when HOME is unset or empty (a service, sudo or cron start), and never the file
// system's root. An XDG variable counts only when it holds an absolute path.
namespace UserFolders {

// Empty when neither HOME nor the user database names one.
QString home();
// $XDG_CONFIG_HOME, else <home>/.config; empty without a home folder.
QString configHome();
// $XDG_STATE_HOME, else <home>/.local/state; empty without a home folder.
QString stateHome();

// The names the user and the computer go by: the user database's and those the environment gives
// (USERNAME, USER, LOGNAME); the host's name, short and whole, and COMPUTERNAME. No duplicates.
QStringList userNames();
QStringList computerNames();

} // namespace UserFolders
