#include "base/RuntimeError.h"
#include "components/IniSettingsStore.h"
#include "outside/IWindowPlacement.h"
#include "platform/HostPath.h"
#include "settings/AppConfig.h"
#include "settings/mSubclasser.h"
#include "support/FakeScreen.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QSettings>
#include <QTest>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString kApp = u"ts6satchel"_s;

QString iniFile()
{
    return IniSettingsStore::FilePath(u"TS6"_s, kApp);
}

class FakePlacement final : public IWindowPlacement
{
public:
    QRect NormalRectangle() const override { return QRect(-8, 20, 900, 700); }
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

} // namespace

class TestAppConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readAndWritten_data();
    void readAndWritten();
    void settingsFilePlace_data();
    void settingsFilePlace();
    void productPathsFromEnvironmentAndProductIni();
};

void TestAppConfig::readAndWritten_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QByteArray>("file");  // the settings file as found; none when empty
    QTest::addColumn<QString>("settings"); // as read, "%cwd" the working folder
    const auto row = [](const char* name, QSize screen, const QByteArray& file, const char* settings) {
        QTest::newRow(name) << screen << file << QString::fromUtf8(settings);
    };
    row("no file, 1365 rounds the half to even", {1365, 768}, {}, "282 84 800 600 0 %cwd");
    row("no file, odd height", {1920, 1081}, {}, "560 240 800 600 0 %cwd");
    row("no file, screen smaller than the window", {640, 480}, {}, "-80 -60 800 600 0 %cwd");
    row("stored values that are no numbers", {1920, 1080},
        "[Settings]\nWindowTop=abc\nWindowWidth=99999999999\nWindowHeight=\" 700 \"\nWindowState=2\n",
        "560 error 13 error 6 700 2 %cwd");
    // A damaged file is read as far as it goes.
    const QByteArray head = "[Settings]\nWindowLeft=5\nLastFolder=C:\\\\APP\\\\\n";
    row("binary garbage", {1920, 1080}, head + QByteArray("\x01\xff\xfe\x00\x80garbage\n", 13),
        "5 240 800 600 0 C:\\APP\\");
}

// What the settings file holds is read as it is, never written by a read, and every write (what the
// main window writes as it closes) goes through at once, whole, to any other instance.
void TestAppConfig::readAndWritten()
{
    QFETCH(QSize, screen);
    QFETCH(QByteArray, file);
    QFETCH(QString, settings);
    TestEnvironment env;
    if (!file.isEmpty())
        env.write(u"config/Norvale/TS6/ts6satchel.ini"_s, file);
    const FakeScreen fake(screen.width(), screen.height());
    AppConfig first(fake, u"ts6satchel.run"_s); // the file is named without the extension
    AppConfig second(fake, kApp);
    QCOMPARE(settingsOf(second), settings.replace(u"%cwd"_s, HostPath::ToWindows(QDir::currentPath())));
    QCOMPARE(QFile::exists(iniFile()), !file.isEmpty());

    mSubclasser::SaveWindowPlacement(FakePlacement(), first);
    first.SetWindowState(2);
    first.SetLastFolder(u"C:\\NEW\\"_s);
    QCOMPARE(settingsOf(second), u"-8 20 900 700 2 C:\\NEW\\"_s);
    QCOMPARE(QSettings(iniFile(), QSettings::IniFormat).status(), QSettings::NoError);
}

void TestAppConfig::settingsFilePlace_data()
{
    QTest::addColumn<bool>("home");
    QTest::newRow("no XDG_CONFIG_HOME: HOME") << true;
    QTest::newRow("neither: the user database") << false;
}

void TestAppConfig::settingsFilePlace()
{
    TestEnvironment env;
    QFETCH(bool, home);
    const ScopedEnv homeVariable("HOME", home ? env.root() : QString());
    const ScopedEnv configVariable("XDG_CONFIG_HOME", QString());
    const QString expected = home ? env.root() : QFile::decodeName(getpwuid(getuid())->pw_dir);
    QCOMPARE(IniSettingsStore::FilePath(u"TS6"_s, kApp), expected + u"/.config/Norvale/TS6/ts6satchel.ini"_s);
}

void TestAppConfig::productPathsFromEnvironmentAndProductIni()
{
    TestEnvironment env;
    env.write(u"config/Norvale/TS6/product.ini"_s,
              "[TS6]\nInstallPath=" + env.driveC().toUtf8() + "/Tess\nDataPath=D:\\\\DATA\nSharedPath=\n");
    const FakeScreen screen;
    AppConfig config(screen, kApp);
    QCOMPARE(config.InstallPath(), u"C:\\Tess"_s);
    QCOMPARE(config.DataPath(), u"D:\\DATA"_s);
    QCOMPARE(config.SharedPath(), QString());
    {
        const ScopedEnv shared("TS6_SHARED_PATH", env.driveC() + u"/Shared/"_s);
        const ScopedEnv install("TS6_INSTALL_PATH", u"E:\\TS6"_s);
        QCOMPARE(config.SharedPath(), u"C:\\Shared\\"_s); // refreshed at every read
        QCOMPARE(config.InstallPath(), u"E:\\TS6"_s);
    }
    QFile::remove(env.configHome() + u"/Norvale/TS6/product.ini"_s);
    QCOMPARE(config.InstallPath(), QString());
    // A named pipe at a settings file's name is never opened: the read would wait for good.
    for (const char* file : {"/Norvale/TS6/product.ini", "/Norvale/TS6/ts6satchel.ini"})
        QCOMPARE(::mkfifo(QFile::encodeName(env.configHome() + QLatin1String(file)).constData(), 0600), 0);
    QVERIFY_THROWS_EXCEPTION(RuntimeError, config.InstallPath());
    QVERIFY_THROWS_EXCEPTION(RuntimeError, config.WindowState());
}

QTEST_GUILESS_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
