#include "platform/UserFolders.h"

#include "platform/HostName.h"

#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace {

QString absoluteVariable(const char* name)
{
    const QByteArray value = qgetenv(name);
    return value.startsWith('/') ? HostName::decode(value.constData(), value.size()) : QString();
}

// A home folder that is the file system's root is none: settings never go to "/.config".
QString homeOrNothing(const QString& folder)
{
    return folder.size() > 1 ? folder : QString();
}

// The user database's entry of this user: its home folder or its name.
QString userDatabase(bool home)
{
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return {};
    if (!home)
        return found->pw_name ? HostName::decode(found->pw_name) : QString();
    if (!found->pw_dir || found->pw_dir[0] != '/')
        return {};
    return homeOrNothing(HostName::decode(found->pw_dir));
}

QString userDatabaseHome()
{
    return userDatabase(true);
}

void addOnce(QStringList& names, const QString& name)
{
    if (!name.isEmpty() && !names.contains(name))
        names.append(name);
}

QString below(const QString& home, const char* rest)
{
    return home.isEmpty() ? QString() : home + QLatin1String(rest);
}

} // namespace

namespace UserFolders {

QString home()
{
    const QString home = homeOrNothing(absoluteVariable("HOME"));
    return home.isEmpty() ? userDatabaseHome() : home;
}

QString configHome()
{
    const QString config = absoluteVariable("XDG_CONFIG_HOME");
    return config.isEmpty() ? below(home(), "/.config") : config;
}

QString stateHome()
{
    const QString state = absoluteVariable("XDG_STATE_HOME");
    return state.isEmpty() ? below(home(), "/.local/state") : state;
}

QStringList userNames()
{
    QStringList names;
    addOnce(names, userDatabase(false));
    for (const char* variable : {"USERNAME", "USER", "LOGNAME"})
        addOnce(names, qEnvironmentVariable(variable));
    return names;
}

QStringList computerNames()
{
    QStringList names;
    const QString host = QSysInfo::machineHostName();
    addOnce(names, host);
    addOnce(names, host.section(QLatin1Char('.'), 0, 0));
    addOnce(names, qEnvironmentVariable("COMPUTERNAME"));
    return names;
}

} // namespace UserFolders
