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
#include <unistd.h>

namespace {

const QString kApp = QStringLiteral("ts6satchel");

QString iniFile()
{
    return IniSettingsStore::FilePath(QStringLiteral("TS6"), kApp);
}

class FakePlacement final : public IWindowPlacement
{
public:
    QRect normal;
    QRect NormalRectangle() const override { return normal; }
};

} // namespace

class TestAppConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaultsFollowTheScreen_data();
    void defaultsFollowTheScreen();
    void writesGoThroughAtOnce();
    void storedNonNumberIsATypeMismatch();
    void damagedFileIsReadAndRewrittenWhole_data();
    void damagedFileIsReadAndRewrittenWhole();
    void settingsFilePlace_data();
    void settingsFilePlace();
    void productPathsFromEnvironmentAndProductIni();
};

void TestAppConfig::defaultsFollowTheScreen_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::newRow("1365 rounds the half to even") << 1365 << 768 << 282 << 84;
    QTest::newRow("1366") << 1366 << 768 << 283 << 84;
    QTest::newRow("odd height") << 1920 << 1081 << 560 << 240;
    QTest::newRow("smaller than the window") << 640 << 480 << -80 << -60;
}

void TestAppConfig::defaultsFollowTheScreen()
{
    TestEnvironment env;
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, left);
    QFETCH(int, top);
    const FakeScreen screen(width, height);
    AppConfig config(screen, kApp);
    QCOMPARE(config.WindowLeft(), left);
    QCOMPARE(config.WindowTop(), top);
    QCOMPARE(config.WindowWidth(), 800);
    QCOMPARE(config.WindowHeight(), 600);
    QCOMPARE(config.WindowState(), 0);
    QCOMPARE(config.LastFolder(), HostPath::ToWindows(QDir::currentPath()));
    QVERIFY(!QFile::exists(iniFile())); // reads never write
}

void TestAppConfig::writesGoThroughAtOnce()
{
    TestEnvironment env;
    const FakeScreen screen;
    AppConfig first(screen, kApp);
    AppConfig second(screen, kApp);
    QCOMPARE(second.WindowLeft(), 560); // read before the write: the other instance must not cache it
    first.SetWindowLeft(-8);
    first.SetLastFolder(QStringLiteral("C:\\APP\\"));
    QCOMPARE(second.WindowLeft(), -8);
    QCOMPARE(second.LastFolder(), QStringLiteral("C:\\APP\\"));
    const QSettings file(iniFile(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Settings/WindowLeft")).toString(), QStringLiteral("-8"));
    QCOMPARE(file.value(QStringLiteral("Settings/LastFolder")).toString(), QStringLiteral("C:\\APP\\"));
}

void TestAppConfig::storedNonNumberIsATypeMismatch()
{
    TestEnvironment env;
    {
        QDir().mkpath(QFileInfo(iniFile()).absolutePath());
        QSettings file(iniFile(), QSettings::IniFormat);
        file.setValue(QStringLiteral("Settings/WindowTop"), QStringLiteral("abc"));
        file.setValue(QStringLiteral("Settings/WindowWidth"), QStringLiteral("99999999999"));
        file.setValue(QStringLiteral("Settings/WindowHeight"), QStringLiteral(" 700 "));
    }
    const FakeScreen screen;
    AppConfig config(screen, kApp);
    try {
        config.WindowTop();
        QFAIL("no error");
    } catch (const RuntimeError& e) {
        QCOMPARE(e.number(), 13);
    }
    QVERIFY_THROWS_EXCEPTION(RuntimeError, config.WindowWidth());
    QCOMPARE(config.WindowHeight(), 700);
}

void TestAppConfig::damagedFileIsReadAndRewrittenWhole_data()
{
    QTest::addColumn<QByteArray>("damage");
    QTest::newRow("a line without =") << QByteArray("garbage line\n");
    QTest::newRow("an unclosed section") << QByteArray("[Broken\n");
    QTest::newRow("binary garbage") << QByteArray("\x01\xff\xfe\x00\x80garbage\n", 13);
}

void TestAppConfig::damagedFileIsReadAndRewrittenWhole()
{
    TestEnvironment env;
    QFETCH(QByteArray, damage);
    env.write(QStringLiteral("config/Norvale/TS6/ts6satchel.ini"),
              "[Settings]\nWindowLeft=5\nLastFolder=C:\\\\APP\\\\\n" + damage + "WindowTop=7\n");
    const FakeScreen screen;
    AppConfig config(screen, QStringLiteral("ts6satchel.run")); // the file is named without the extension
    QCOMPARE(config.WindowLeft(), 5);
    QCOMPARE(config.LastFolder(), QStringLiteral("C:\\APP\\"));
    // What the main window writes as it closes (the normal rectangle, the state, the folder):
    // every setting, none lost to the damage.
    FakePlacement window;
    window.normal = QRect(10, 20, 900, 700);
    mSubclasser::SaveWindowPlacement(window, config);
    config.SetWindowState(2);
    config.SetLastFolder(QStringLiteral("C:\\NEW\\"));
    const QSettings file(iniFile(), QSettings::IniFormat);
    QCOMPARE(file.status(), QSettings::NoError);
    QStringList values;
    for (const char* key :
         {"WindowLeft", "WindowTop", "WindowWidth", "WindowHeight", "WindowState", "LastFolder"})
        values.append(file.value(QStringLiteral("Settings/") + QLatin1String(key)).toString());
    QCOMPARE(values.join(QLatin1Char(' ')), QStringLiteral("10 20 900 700 2 C:\\NEW\\"));
}

void TestAppConfig::settingsFilePlace_data()
{
    QTest::addColumn<bool>("configHome");
    QTest::addColumn<bool>("home");
    QTest::newRow("XDG_CONFIG_HOME") << true << true;
    QTest::newRow("HOME") << false << true;
    QTest::newRow("neither: the user database") << false << false;
}

void TestAppConfig::settingsFilePlace()
{
    TestEnvironment env;
    QFETCH(bool, configHome);
    QFETCH(bool, home);
    const ScopedEnv homeVariable("HOME", home ? env.root() : QString());
    const ScopedEnv configVariable("XDG_CONFIG_HOME", configHome ? env.configHome() : QString());
    const QString expected = configHome ? env.configHome()
                             : home
                                 ? env.root() + QStringLiteral("/.config")
                                 : QFile::decodeName(getpwuid(getuid())->pw_dir) + QStringLiteral("/.config");
    QCOMPARE(IniSettingsStore::FilePath(QStringLiteral("TS6"), kApp),
             expected + QStringLiteral("/Norvale/TS6/ts6satchel.ini"));
}

void TestAppConfig::productPathsFromEnvironmentAndProductIni()
{
    TestEnvironment env;
    env.write(QStringLiteral("config/Norvale/TS6/product.ini"),
              "[TS6]\nInstallPath=" + env.driveC().toUtf8() + "/Tess\nDataPath=D:\\\\DATA\nSharedPath=\n");
    const FakeScreen screen;
    AppConfig config(screen, kApp);
    QCOMPARE(config.InstallPath(), QStringLiteral("C:\\Tess"));
    QCOMPARE(config.DataPath(), QStringLiteral("D:\\DATA"));
    QCOMPARE(config.SharedPath(), QString());
    {
        const ScopedEnv shared("TS6_SHARED_PATH", env.driveC() + QStringLiteral("/Shared/"));
        const ScopedEnv install("TS6_INSTALL_PATH", QStringLiteral("E:\\TS6"));
        QCOMPARE(config.SharedPath(), QStringLiteral("C:\\Shared\\")); // refreshed at every read
        QCOMPARE(config.InstallPath(), QStringLiteral("E:\\TS6"));
    }
    QFile::remove(env.configHome() + QStringLiteral("/Norvale/TS6/product.ini"));
    QCOMPARE(config.InstallPath(), QString());
}

QTEST_GUILESS_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
