#include "components/IniSettingsStore.h"

#include "platform/FileReplacement.h"

#include "base/Logging.h"

#include "base/CHandle.h"
#include "base/RuntimeError.h"
#include "base/SystemError.h"
#include "components/IniFile.h"
#include "outside/FileLock.h"
#include "platform/HostName.h"
#include "platform/UserFolders.h"

#include <QList>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// What the store knows of its file: shared with the sections it hands out.
struct IniStoreContents
{
    struct Change
    {
        QString section;
        QString key;
        QString value;
    };

    IniDocument document;                // the file as last read, with the changes of this store
    QList<Change> changes;               // made since the last reload or save, in order
    QSet<QString> madeSections;          // added in memory, holding no key yet
    std::optional<IniFile::Stamp> stamp; // of the file as last read; none before the first read
};

namespace {

class IniSection final : public ISettingsSection
{
public:
    IniSection(std::shared_ptr<IniStoreContents> contents, QString name)
        : m_contents(std::move(contents)), m_name(std::move(name))
    {}

    bool readValue(const QString& key, const QString& defaultValue, QString& value) override
    {
        value = m_contents->document.value(m_name, key).value_or(defaultValue);
        return true;
    }

    bool writeValue(const QString& key, const QString& value) override
    {
        m_contents->document.setValue(m_name, key, value);
        m_contents->changes.append({m_name, key, value});
        return true;
    }

private:
    std::shared_ptr<IniStoreContents> m_contents;
    QString m_name;
};

// Where the settings are kept. A settings file that is a link this user made (to a folder of
// dotfiles, say) keeps its text where the link leads, and the link stays. A link someone else
// planted there (a root run on a user's folder) is never read nor written through: the save puts
// a file of its own in the link's place. foreign tells which.
const QString kTooLarge = QStringLiteral("larger than 1 MB");
constexpr std::chrono::seconds kLockPatience(5);

QString settingsTarget(const QString& file, bool& foreign)
{
    const QByteArray path = HostName::encode(file);
    struct stat st
    {};
    foreign = false;
    if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return file;
    if (st.st_uid != ::geteuid()) {
        foreign = true;
        return file;
    }
    const unique_c_ptr<char, std::free> real(::realpath(path.constData(), nullptr));
    return real ? HostName::decode(real.get()) : file;
}

// Why the save may not replace the file, as a careful editor asks before it replaces one; empty
// when it may. The save puts a new file of this user's in its place. A file made read-only stays
// so, for root too, who could pass by its mode: one of this user's without the owner's write
// permission, or any without a write permission at all. Another user's file is replaced only in
// a folder of this user's own, which takes it back; elsewhere it keeps its owner, so a root run
// on a user's settings never takes them over.
QString whyNotReplaced(const struct stat& file, const QByteArray& folder)
{
    const uid_t me = ::geteuid();
    if (file.st_uid == me ? (file.st_mode & S_IWUSR) == 0 : (file.st_mode & 0222) == 0)
        return QStringLiteral("it is read-only");
    struct stat st
    {};
    if (file.st_uid != me && (::stat(folder.constData(), &st) != 0 || st.st_uid != me))
        return QStringLiteral("it belongs to another user");
    return {};
}

// Makes the folder and those above it that are missing, each one that only its owner may enter.
// 0, or the error number of the failure.
int makeFolders(const QByteArray& folder)
{
    struct stat st
    {};
    if (::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return 0;
    for (qsizetype slash = folder.indexOf('/', 1);; slash = folder.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? folder : folder.left(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return errno;
        if (slash < 0)
            return 0;
    }
}

} // namespace

IniSettingsStore::IniSettingsStore() : m_contents(std::make_shared<IniStoreContents>()) {}
IniSettingsStore::~IniSettingsStore() = default;

QString IniSettingsStore::filePath(const QString& product, const QString& application)
{
    const QString config = UserFolders::configHome();
    if (config.isEmpty())
        return {};
    return config + QStringLiteral("/Norvale/") + product + QLatin1Char('/') + application +
           QStringLiteral(".ini");
}

QString IniSettingsStore::filePath() const
{
    if (!m_file.isEmpty() || m_product.isEmpty() || m_application.isEmpty())
        return m_file;
    const QString named = filePath(m_product, m_application);
    bool foreign = false;
    return named.isEmpty() ? QString() : settingsTarget(named, foreign);
}

void IniSettingsStore::forget()
{
    m_file.clear();
    m_contents = std::make_shared<IniStoreContents>();
    m_warning.clear();
}

bool IniSettingsStore::setApplicationName(const QString& name)
{
    m_application = name;
    forget();
    return true;
}

bool IniSettingsStore::setProduct(const QString& product)
{
    m_product = product;
    forget();
    return true;
}

bool IniSettingsStore::fileName(QString& file)
{
    if (m_product.isEmpty() || m_application.isEmpty()) {
        m_lastError = QStringLiteral("The settings store has no product or application name");
        return false;
    }
    if (m_file.isEmpty()) {
        const QString named = filePath(m_product, m_application);
        m_file = named.isEmpty() ? QString() : settingsTarget(named, m_foreignLink);
    }
    if (m_file.isEmpty()) {
        m_lastError = QStringLiteral("No home folder for the settings file: HOME is unset and the user "
                                     "database names none");
        return false;
    }
    file = m_file;
    return true;
}

template <typename Work> bool IniSettingsStore::asStatus(Work&& work)
{
    try {
        return std::forward<Work>(work)();
    } catch (const RuntimeError& e) {
        if (e.number() == ErrorNumber::Interrupted)
            throw;
        m_lastError = e.description();
    } catch (const std::bad_alloc&) {
        m_lastError = QStringLiteral("Out of memory");
    }
    return false;
}

void IniSettingsStore::leaveAlone(const QString& file, const QString& why)
{
    m_warning = QStringLiteral(
                    "The settings file %1 is %2: it was not read, and the settings of this run are not saved")
                    .arg(file, why);
}

bool IniSettingsStore::reload()
{
    QString file;
    if (!fileName(file))
        return false;
    if (!m_warning.isEmpty())
        return true; // left alone for the rest of the run
    IniStoreContents& contents = *m_contents;
    const bool unsaved = !contents.changes.isEmpty();
    contents.changes.clear();
    if (m_foreignLink)
        return true; // nothing is read through it
    const IniFile::Stamp stamp = IniFile::stampOf(file);
    // A named pipe or a device would hold up the read for good, and the save would replace it.
    if (stamp.kind == IniFile::Stamp::Kind::Other) {
        leaveAlone(file, QStringLiteral("not a regular file"));
        return true;
    }
    if (!unsaved && stamp.kind != IniFile::Stamp::Kind::Unknown && contents.stamp == stamp)
        return true;
    return asStatus([&] { return read(file); });
}

bool IniSettingsStore::read(const QString& file)
{
    IniFile::Contents read = IniFile::read(file);
    switch (read.outcome) {
    case IniFile::Contents::Outcome::TooLarge:
        leaveAlone(file, kTooLarge);
        return true;
    case IniFile::Contents::Outcome::Failed:
        m_lastError = QStringLiteral("Cannot read the settings file %1: %2").arg(file, read.error);
        return false;
    case IniFile::Contents::Outcome::Read:
    case IniFile::Contents::Outcome::Missing:
        break;
    }
    m_contents->document = std::move(read.document);
    m_contents->stamp = read.stamp;
    qCDebug(lcComponents) << "settings read from" << file;
    return true;
}

bool IniSettingsStore::save()
{
    QString file;
    if (!fileName(file))
        return false;
    if (m_warning.isEmpty() && !m_contents->changes.isEmpty() && !asStatus([&] {
            save(file);
            return true;
        }))
        return false;
    m_contents->changes.clear();
    return true;
}

void IniSettingsStore::save(const QString& file)
{
    const auto fail = [&file](const QString& reason) {
        raiseError(ErrorNumber::DeviceIoError,
                   QStringLiteral("Cannot write the settings file %1: %2").arg(file, reason));
    };
    if (IniFile::stampOf(file).kind == IniFile::Stamp::Kind::Other)
        fail(QStringLiteral("not a regular file"));
    const QByteArray target = HostName::encode(file);
    const QByteArray folder = target.left(target.lastIndexOf('/'));
    struct stat st
    {};
    if (!m_foreignLink && ::stat(target.constData(), &st) == 0)
        if (const QString why = whyNotReplaced(st, folder); !why.isEmpty())
            fail(why);
    if (const int error = makeFolders(folder); error != 0)
        fail(errnoText(error));
    // Other runs of the program that save meanwhile wait for their turn, a moment each; a lock held
    // longer is another program's, and the save goes on without it (the file is replaced whole, so
    // a reader never sees half of it). A stop signal ends the wait.
    const FileLock turn(HostName::decode(folder.constData(), folder.size()), FileLock::PathKind::Host,
                        kLockPatience);
    IniFile::Contents now = m_foreignLink ? IniFile::Contents{.outcome = IniFile::Contents::Outcome::Missing}
                                          : IniFile::read(file);
    switch (now.outcome) {
    case IniFile::Contents::Outcome::TooLarge:
        leaveAlone(file, kTooLarge);
        return;
    case IniFile::Contents::Outcome::Failed:
        fail(now.error);
        break;
    case IniFile::Contents::Outcome::Read:
    case IniFile::Contents::Outcome::Missing:
        break;
    }
    for (const IniStoreContents::Change& change : std::as_const(m_contents->changes))
        now.document.setValue(change.section, change.key, change.value);
    const mode_t permissions =
        !m_foreignLink && ::stat(target.constData(), &st) == 0 ? (st.st_mode & 07777) : 0600;
    if (const int error = replaceFile(target, now.document.toText(), 0600, permissions); error != 0)
        fail(errnoText(error));
    m_contents->document = std::move(now.document);
    m_contents->stamp = IniFile::stampOf(file);
    m_foreignLink = false; // the file in its place is this run's own now
}

std::shared_ptr<ISettingsSection> IniSettingsStore::addSection(const QString& name)
{
    m_contents->madeSections.insert(name);
    return std::make_shared<IniSection>(m_contents, name);
}

std::shared_ptr<ISettingsSection> IniSettingsStore::getSection(const QString& name)
{
    bool has = false;
    if (!hasSection(name, has) || !has)
        return nullptr;
    return std::make_shared<IniSection>(m_contents, name);
}

bool IniSettingsStore::hasSection(const QString& name, bool& has)
{
    has = m_contents->madeSections.contains(name) || m_contents->document.hasSection(name);
    return true;
}
