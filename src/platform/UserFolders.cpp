#include "platform/UserFolders.h"

#include "platform/HostName.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace {

QString absoluteVariable(const char* name)
{
    const QByteArray value = qgetenv(name);
    return value.startsWith('/') ? HostName::Decode(value.constData(), value.size()) : QString();
}

// A home folder that is the file system's root is none: settings never go to "/.config".
QString homeOrNothing(const QString& folder)
{
    return folder.size() > 1 ? folder : QString();
}

QString userDatabaseHome()
{
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir || found->pw_dir[0] != '/')
        return {};
    return homeOrNothing(HostName::Decode(found->pw_dir));
}

QString below(const QString& home, const char* rest)
{
    return home.isEmpty() ? QString() : home + QLatin1String(rest);
}

} // namespace

namespace UserFolders {

QString Home()
{
    const QString home = homeOrNothing(absoluteVariable("HOME"));
    return home.isEmpty() ? userDatabaseHome() : home;
}

QString ConfigHome()
{
    const QString config = absoluteVariable("XDG_CONFIG_HOME");
    return config.isEmpty() ? below(Home(), "/.config") : config;
}

QString StateHome()
{
    const QString state = absoluteVariable("XDG_STATE_HOME");
    return state.isEmpty() ? below(Home(), "/.local/state") : state;
}

} // namespace UserFolders
