#include "base/RuntimeError.h"
#include "components/IniSettingsStore.h"
#include "outside/IWindowPlacement.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"
#include "settings/AppConfig.h"
#include "settings/mSubclasser.h"
#include "support/FakeScreen.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QSettings>
#include <QTest>

#include <csignal>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString kApp = u"ts6satchel"_s;

QString iniFile()
{
    return IniSettingsStore::filePath(u"TS6"_s, kApp);
}

class FakePlacement final : public IWindowPlacement
{
public:
    QRect normalRectangle() const override { return QRect(-8, 20, 900, 700); }
};

// The six settings as the getters give them, "error N" for a run-time error.
QString settingsOf(AppConfig& config)
{
    QStringList values;
    for (const auto get : {&AppConfig::WindowLeft, &AppConfig::WindowTop, &AppConfig::WindowWidth,
                           &AppConfig::WindowHeight, &AppConfig::WindowState}) {
        try {
            values.append(QString::number((config.*get)()));
        } catch (const RuntimeError& e) {
            values.append(u"error "_s + QString::number(e.number()));
        }
    }
    return values.join(u' ') + u' ' + config.LastFolder();
}

mode_t permissionsOf(const QString& path)
{
    struct stat st
    {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A file of exactly the given size: the head, then a comment line.
QByteArray paddedTo(const QByteArray& head, qsizetype size)
{
    return head + ';' + QByteArray(size - head.size() - 2, 'x') + '\n';
}

} // namespace

class TestAppConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readAndWritten_data();
    void readAndWritten();
    void sharedWithQSettings_data();
    void sharedWithQSettings();
    void storesSaveOnlyTheirOwnKeys();
    void aFailedSaveLeavesTheFile_data();
    void aFailedSaveLeavesTheFile();
    void settingsFilePlace();
    void productPathsFromEnvironmentAndProductIni();
    void linkAtTheSettingsFile_data();
    void linkAtTheSettingsFile();
};

void TestAppConfig::readAndWritten_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QByteArray>("file");  // the settings file as found; none when empty
    QTest::addColumn<QString>("settings"); // as read, "%cwd" the working folder
    QTest::addColumn<bool>("saved");       // whether the writes reach the file
    const auto row = [](const char* name, QSize screen, const QByteArray& file, const char* settings,
                        bool saved = true) {
        QTest::newRow(name) << screen << file << QString::fromUtf8(settings) << saved;
    };
    row("no file, 1365 rounds the half to even", {1365, 768}, {}, "282 84 800 600 0 %cwd");
    row("no file, odd height", {1920, 1081}, {}, "560 240 800 600 0 %cwd");
    row("no file, screen smaller than the window", {640, 480}, {}, "-80 -60 800 600 0 %cwd");
    row("stored values that are no numbers", {1920, 1080},
        "[Settings]\nWindowTop=abc\nWindowWidth=99999999999\nWindowHeight=\" 700 \"\nWindowState=2\n",
        "560 error 13 error 6 700 2 %cwd");
    // A damaged file is read line by line, as far as it is understood, and rewritten without the rest.
    const QByteArray head = "[Settings]\nWindowLeft=5\nLastFolder=C:\\\\APP\\\\\n";
    row("binary garbage", {1920, 1080},
        head + QByteArray("\x01\xff=\xfe\x00\x80garbage\n", 14).repeated(300) + "[Other]\nKept=yes\n",
        "5 240 800 600 0 C:\\APP\\");
    row("exactly 1,000,000 bytes: read", {1920, 1080}, paddedTo(head, 1'000'000),
        "5 240 800 600 0 C:\\APP\\");
    row("1,000,001 bytes: neither read nor written", {1920, 1080}, paddedTo(head, 1'000'001),
        "560 240 800 600 0 %cwd", false);
}

// What the settings file holds is read as it is, never written by a read, and every write (what the
// main window writes as it closes) goes through at once, whole, to any other instance.
void TestAppConfig::readAndWritten()
{
    QFETCH(QSize, screen);
    QFETCH(QByteArray, file);
    QFETCH(QString, settings);
    QFETCH(bool, saved);
    TestEnvironment env;
    if (!file.isEmpty())
        ::chmod(QFile::encodeName(env.write(u"config/Norvale/TS6/ts6satchel.ini"_s, file)).constData(), 0640);
    const FakeScreen fake(screen.width(), screen.height());
    AppConfig first(fake, u"ts6satchel.run"_s, env.components().settingsStore,
                    env.components().productInfo); // the file is named without the extension
    AppConfig second(fake, kApp, env.components().settingsStore, env.components().productInfo);
    settings.replace(u"%cwd"_s, HostPath::toWindows(QDir::currentPath()));
    QCOMPARE(settingsOf(second), settings);
    QCOMPARE(QFile::exists(iniFile()), !file.isEmpty());
    QCOMPARE(second.settingsFilePath(), iniFile());

    mSubclasser::SaveWindowPlacement(FakePlacement(), first);
    first.setWindowState(2);
    first.setLastFolder(u"C:\\NEW\\"_s);
    if (!saved) {
        QCOMPARE(settingsOf(second), settings);
        QCOMPARE(readFile(iniFile()), file);
        QCOMPARE(first.settingsWarning(), u"The settings file "_s + iniFile() +
                                              u" is larger than 1 MB: it was not read, and the settings "
                                              u"of this run are not saved"_s);
        return;
    }
    QCOMPARE(settingsOf(second), u"-8 20 900 700 2 C:\\NEW\\"_s);
    QCOMPARE(first.settingsWarning(), QString());
    QSettings ini(iniFile(), QSettings::IniFormat);
    QCOMPARE(ini.status(), QSettings::NoError);
    QCOMPARE(ini.value(u"Other/Kept"_s).toString(), file.contains("Kept=yes") ? u"yes"_s : QString());
    // Never larger than what was understood: six short settings, at most.
    QVERIFY(QFileInfo(iniFile()).size() < std::max<qint64>(file.size(), 150));
    QCOMPARE(permissionsOf(iniFile()), file.isEmpty() ? mode_t(0600) : mode_t(0640));
    if (file.isEmpty())
        QCOMPARE(permissionsOf(QFileInfo(iniFile()).path()), mode_t(0700));
}

void TestAppConfig::sharedWithQSettings_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("backslashes and quotes") << u"C:\\APP\\\"quoted\" \\\\server\\share\\"_s;
    QTest::newRow("separators, blanks at the ends") << u"  a, b; c = d #e  "_s;
    QTest::newRow("control characters, hex digits after escapes")
        << u"tab\there\nline\x01"_s + u"0f"_s + QChar(0) + u"7\x7f"_s;
    QTest::newRow("an at sign first") << u"@Invalid()"_s;
    QTest::newRow("UTF-8 beyond 16 bits") << u"Zo\u00eb \u2713 \U0001F600"_s;
    QTest::newRow("host-name bytes that are not UTF-8") << HostName::decode("C:\\Caf\xe9\xff\x30");
}

// Files of the earlier store keep their values, and the earlier store reads ours: the same
// texts under the same sections and keys, also where keys need escapes.
void TestAppConfig::sharedWithQSettings()
{
    QFETCH(QString, value);
    TestEnvironment env;
    const FakeScreen screen;
    const QString section = u"Odd Section"_s;
    const QString key = u"key/\u00e9 \u20ac"_s;
    if (!HostName::hasRawBytes(value)) { // such bytes the earlier store could never keep
        {
            QSettings theirs(iniFile(), QSettings::IniFormat);
            theirs.setValue(u"Settings/LastFolder"_s, value);
            theirs.setValue(section + u'/' + key, value);
        }
        AppConfig ours(screen, kApp, env.components().settingsStore, env.components().productInfo);
        QCOMPARE(ours.LastFolder(), value);
        QCOMPARE(ours.value(section, key, {}), value);
        QFile::remove(iniFile());
    }
    AppConfig writer(screen, kApp, env.components().settingsStore, env.components().productInfo);
    writer.setLastFolder(value);
    writer.setValue(section, key, value);
    const QSettings theirs(iniFile(), QSettings::IniFormat);
    QCOMPARE(theirs.value(u"Settings/LastFolder"_s).toString(), value);
    QCOMPARE(theirs.value(section + u'/' + key).toString(), value);
    AppConfig reader(screen, kApp, env.components().settingsStore, env.components().productInfo);
    QCOMPARE(reader.LastFolder(), value);
    QCOMPARE(reader.value(section, key, {}), value);
}

// Two stores that read the file before either saves each keep their own key: a save puts in only
// what its store changed.
void TestAppConfig::storesSaveOnlyTheirOwnKeys()
{
    TestEnvironment env;
    env.write(u"config/Norvale/TS6/ts6satchel.ini"_s, "[Settings]\nWindowLeft=1\n");
    IniSettingsStore a;
    IniSettingsStore b;
    for (IniSettingsStore* store : {&a, &b})
        QVERIFY(store->setProduct(u"TS6"_s) && store->setApplicationName(kApp) && store->reload());
    QVERIFY(a.addSection(u"Settings"_s)->writeValue(u"WindowTop"_s, u"2"_s));
    QVERIFY(b.addSection(u"Settings"_s)->writeValue(u"WindowWidth"_s, u"3"_s));
    QVERIFY(a.save() && b.save());
    const FakeScreen screen;
    AppConfig config(screen, kApp, env.components().settingsStore, env.components().productInfo);
    QCOMPARE(settingsOf(config).section(u' ', 0, 3), u"1 2 3 600"_s);
}

void TestAppConfig::aFailedSaveLeavesTheFile_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("owner"); // 0 this user's, 1 another user's file, 2 its folder too (as root)
    QTest::addColumn<QString>("why");
    QTest::newRow("a write the system refuses: the file-size limit") << 0644 << 0 << u"File too large"_s;
    // Also to root, who could write it anyway: the save would replace it, not write it.
    QTest::newRow("made read-only by its owner (0444)") << 0444 << 0 << u"it is read-only"_s;
    QTest::newRow("no write permission for its owner (0464)") << 0464 << 0 << u"it is read-only"_s;
    QTest::newRow("another user's, writable to all, in their folder")
        << 0666 << 2 << u"it belongs to another user"_s;
    QTest::newRow("another user's without any write permission") << 0444 << 1 << u"it is read-only"_s;
    // In this user's folder, another user's file is taken back: the save goes as far as the limit.
    QTest::newRow("another user's in this user's folder") << 0644 << 1 << u"File too large"_s;
}

// A save that cannot or may not write the file leaves the old file as it was, and says why.
void TestAppConfig::aFailedSaveLeavesTheFile()
{
    QFETCH(int, mode);
    QFETCH(int, owner);
    QFETCH(QString, why);
    if (owner != 0 && ::geteuid() != 0)
        QSKIP("only root can give a file to another user");
    TestEnvironment env;
    const QByteArray old = "[Settings]\nWindowLeft=1\n";
    const QByteArray file = QFile::encodeName(env.write(u"config/Norvale/TS6/ts6satchel.ini"_s, old));
    ::chmod(file.constData(), mode);
    constexpr uid_t kNobody = 65534;
    if (owner != 0)
        QCOMPARE(::chown(file.constData(), kNobody, kNobody), 0);
    if (owner == 2)
        QCOMPARE(::chown(QFile::encodeName(QFileInfo(iniFile()).path()).constData(), kNobody, kNobody), 0);
    const FakeScreen screen;
    AppConfig config(screen, kApp, env.components().settingsStore, env.components().productInfo);
    // The limit holds in every row: a read-only file is left before anything is written.
    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
    const rlimit small{static_cast<rlim_t>(old.size()), limit.rlim_max};
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString said;
    try {
        config.setLastFolder(u"C:\\A LONGER TEXT THAN THE LIMIT\\"_s);
    } catch (const RuntimeError& e) {
        said = e.description();
    }
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);
    QCOMPARE(said, u"Cannot write the settings file "_s + iniFile() + u": "_s + why);
    QCOMPARE(permissionsOf(iniFile()), mode_t(mode));
    QCOMPARE(QDir(QFileInfo(iniFile()).path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{kApp + u".ini"_s});
    QCOMPARE(config.WindowLeft(), 1);
}

// Without XDG_CONFIG_HOME the settings are below HOME; without either, below the home the user
// database names.
void TestAppConfig::settingsFilePlace()
{
    TestEnvironment env;
    const ScopedEnv configVariable("XDG_CONFIG_HOME", QString());
    for (const QString& home : {env.root(), QString()}) {
        const ScopedEnv homeVariable("HOME", home);
        const QString expected = !home.isEmpty() ? home : QFile::decodeName(getpwuid(getuid())->pw_dir);
        QCOMPARE(IniSettingsStore::filePath(u"TS6"_s, kApp),
                 expected + u"/.config/Norvale/TS6/ts6satchel.ini"_s);
    }
}

void TestAppConfig::productPathsFromEnvironmentAndProductIni()
{
    TestEnvironment env;
    env.write(u"config/Norvale/TS6/product.ini"_s,
              "[TS6]\nInstallPath=" + env.driveC().toUtf8() + "/Tess\nDataPath=D:\\\\DATA\nSharedPath=\n");
    const FakeScreen screen;
    AppConfig config(screen, kApp, env.components().settingsStore, env.components().productInfo);
    QCOMPARE(config.InstallPath(), u"C:\\Tess"_s);
    QCOMPARE(config.DataPath(), u"D:\\DATA"_s);
    QCOMPARE(config.SharedPath(), QString());
    {
        const ScopedEnv shared("TS6_SHARED_PATH", env.driveC() + u"/Shared/"_s);
        const ScopedEnv install("TS6_INSTALL_PATH", u"E:\\TS6"_s);
        QCOMPARE(config.SharedPath(), u"C:\\Shared\\"_s); // refreshed at every read
        QCOMPARE(config.InstallPath(), u"E:\\TS6"_s);
    }
    const QString product = env.write(u"config/Norvale/TS6/product.ini"_s, paddedTo("[TS6]\n", 1'000'001));
    try {
        config.InstallPath();
        QFAIL("a product file over 1 MB was read");
    } catch (const RuntimeError& e) {
        QCOMPARE(e.description(), u"The product file "_s + product + u" is larger than 1 MB"_s);
    }
    QFile::remove(product);
    QCOMPARE(config.InstallPath(), QString());
    // A named pipe at a settings file's name is never opened: the read would wait for good.
    for (const char* file : {"/Norvale/TS6/product.ini", "/Norvale/TS6/ts6satchel.ini"})
        QCOMPARE(::mkfifo(QFile::encodeName(env.configHome() + QLatin1String(file)).constData(), 0600), 0);
    QVERIFY_THROWS_EXCEPTION(RuntimeError, config.InstallPath());
    QCOMPARE(config.WindowState(), 0); // the settings: the defaults, and the pipe left alone
    QVERIFY(config.settingsWarning().endsWith(u" is not a regular file: it was not read, and the settings of "
                                              "this run are not saved"_s));
}

void TestAppConfig::linkAtTheSettingsFile_data()
{
    QTest::addColumn<bool>("planted"); // made by another user (else by this one)
    QTest::newRow("a link of this user's: read and written where it leads") << false;
    QTest::newRow("a link another user planted: neither read nor written through") << true;
}

void TestAppConfig::linkAtTheSettingsFile()
{
    QFETCH(bool, planted);
    if (planted && ::geteuid() != 0)
        QSKIP("a link of another user's needs root to be made");
    TestEnvironment env;
    const QByteArray text = "[Settings]\nWindowLeft=77\n";
    const QString target = env.write(u"elsewhere/kept.ini"_s, text);
    QDir().mkpath(env.configHome() + u"/Norvale/TS6"_s);
    QVERIFY(QFile::link(target, iniFile()));
    if (planted)
        QCOMPARE(::lchown(QFile::encodeName(iniFile()).constData(), 65534, 65534), 0);
    const FakeScreen screen(1920, 1080);
    AppConfig config(screen, kApp, env.components().settingsStore, env.components().productInfo);
    QCOMPARE(config.WindowLeft(), planted ? 560 : 77);
    QCOMPARE(config.settingsFilePath(), planted ? iniFile() : target);
    config.setWindowTop(5);
    QCOMPARE(QFileInfo(iniFile()).isSymLink(), !planted);
    const QByteArray kept = readFile(target);
    QVERIFY(kept.contains("WindowLeft=77"));
    QCOMPARE(kept.contains("WindowTop=5"), !planted);
}

QTEST_GUILESS_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
