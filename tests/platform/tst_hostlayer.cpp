#include "catalogue/PathHelpers.h"
#include "outside/HostFunctions.h"
#include "platform/HostPath.h"
#include "platform/Wildcard.h"
#include "support/PeWriter.h"
#include "support/TestEnvironment.h"

#include <QTest>

#include <unistd.h>

class TestHostLayer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wildcards_data();
    void wildcards();
    void windowsToHost_data();
    void windowsToHost();
    void hostToWindows_data();
    void hostToWindows();
    void caseBlindLookupPrefersExactThenFirstInByteOrder();
    void listingSeesChangesMadeBetweenLookups();
    void entryNames();
    void programDataAndTempFolders();
    void fileVersions();
};

void TestHostLayer::wildcards_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("matches");
    QTest::newRow("legacy template") << "*.TST?"
                                     << "x.tst" << true;
    QTest::newRow("current template") << "*.TST?"
                                      << "X.TST6" << true;
    QTest::newRow("two more characters") << "*.TST?"
                                         << "X.TST66" << false;
    QTest::newRow("other extension") << "*.TST?"
                                     << "X.TSD6" << false;
    QTest::newRow("star-dot-star, no dot") << "*.*"
                                           << "README" << true;
    QTest::newRow("star-dot-star, dots") << "*.*"
                                         << "a.b.c" << true;
    QTest::newRow("exact name, other case") << "ORDERS.TST6"
                                            << "orders.tst6" << true;
    QTest::newRow("question before dot may be empty") << "AB?.TXT"
                                                      << "AB.TXT" << true;
    QTest::newRow("question in the middle is one character") << "A?C"
                                                             << "AC" << false;
    QTest::newRow("star in the middle") << "*.CONFIG"
                                        << "app.settings.config" << true;
    QTest::newRow("star matches empty") << "*LOG"
                                        << "LOG" << true;
    QTest::newRow("dot entries with star") << "*"
                                           << ".." << true;
}

void TestHostLayer::wildcards()
{
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QFETCH(bool, matches);
    QCOMPARE(MatchesWildcard(pattern, name), matches);
}

void TestHostLayer::windowsToHost_data()
{
    QTest::addColumn<QString>("drives");
    QTest::addColumn<QString>("windowsPath");
    QTest::addColumn<QString>("hostPath"); // "" when the path cannot lie anywhere
    QTest::newRow("mapped drive") << "C=/srv/c"
                                  << "C:\\App\\x.tst6"
                                  << "/srv/c/App/x.tst6";
    QTest::newRow("letters are case-blind") << "c=/srv/c"
                                            << "C:\\a"
                                            << "/srv/c/a";
    QTest::newRow("forward slashes separate too") << "C=/srv/c"
                                                  << "C:/a/b"
                                                  << "/srv/c/a/b";
    QTest::newRow("dot-dot never above the root") << "C=/srv/c"
                                                  << "C:\\..\\..\\a\\.\\b"
                                                  << "/srv/c/a/b";
    QTest::newRow("Z is the host root") << ""
                                        << "Z:\\etc\\hosts"
                                        << "/etc/hosts";
    QTest::newRow("Z remapped") << "Z=/mnt/z"
                                << "Z:\\etc"
                                << "/mnt/z/etc";
    QTest::newRow("unmapped drive") << "C=/srv/c"
                                    << "D:\\x"
                                    << "";
    QTest::newRow("share") << "\\\\files\\tess=/srv/share"
                           << "\\\\FILES\\Tess\\a\\b"
                           << "/srv/share/a/b";
    QTest::newRow("unknown share") << ""
                                   << "\\\\files\\tess\\a"
                                   << "";
    QTest::newRow("rubbish in the map is ignored") << "CC=/x;;=;D=relative;E=/e"
                                                   << "E:\\"
                                                   << "/e";
}

void TestHostLayer::windowsToHost()
{
    QFETCH(QString, drives);
    QFETCH(QString, windowsPath);
    QFETCH(QString, hostPath);
    const ScopedEnv env("TS6_DRIVES", drives);
    const std::optional<HostLocation> parsed = HostPath::Parse(windowsPath);
    QCOMPARE(parsed ? parsed->hostPath() : QString(), hostPath);
}

void TestHostLayer::hostToWindows_data()
{
    QTest::addColumn<QString>("drives");
    QTest::addColumn<QString>("hostPath");
    QTest::addColumn<QString>("windowsPath");
    QTest::newRow("mapped drive") << "C=/srv/tess/c"
                                  << "/srv/tess/c/App/x.tst6"
                                  << "C:\\App\\x.tst6";
    QTest::newRow("elsewhere is Z") << "C=/srv/tess/c"
                                    << "/home/ann/a"
                                    << "Z:\\home\\ann\\a";
    QTest::newRow("component-wise prefix only") << "C=/srv/tess/c"
                                                << "/srv/tess/cc/a"
                                                << "Z:\\srv\\tess\\cc\\a";
    QTest::newRow("longest prefix wins") << "C=/srv;D=/srv/d"
                                         << "/srv/d/x"
                                         << "D:\\x";
    QTest::newRow("drive root") << "C=/srv/c"
                                << "/srv/c"
                                << "C:\\";
    QTest::newRow("trailing slash kept") << "C=/srv/c"
                                         << "/srv/c/App/"
                                         << "C:\\App\\";
    QTest::newRow("already Windows-style") << ""
                                           << "D:\\x"
                                           << "D:\\x";
    QTest::newRow("share") << "\\\\fs\\t=/srv/share"
                           << "/srv/share/a"
                           << "\\\\fs\\t\\a";
}

void TestHostLayer::hostToWindows()
{
    QFETCH(QString, drives);
    QFETCH(QString, hostPath);
    QFETCH(QString, windowsPath);
    const ScopedEnv env("TS6_DRIVES", drives);
    QCOMPARE(HostPath::ToWindows(hostPath), windowsPath);
}

void TestHostLayer::caseBlindLookupPrefersExactThenFirstInByteOrder()
{
    TestEnvironment env;
    env.write(QStringLiteral("c/Dir/data.txt"), "lower");
    env.write(QStringLiteral("c/Dir/DATA.txt"), "upper");
    env.write(QStringLiteral("c/Dir/Data.TXT"), "mixed");
    const auto resolved = [](const char* p) {
        const std::optional<HostLocation> l = HostPath::Resolve(QString::fromLatin1(p));
        return l ? l->components.join(QLatin1Char('/')) : QString();
    };
    QCOMPARE(resolved("C:\\dir\\data.txt"), QStringLiteral("Dir/data.txt"));
    QCOMPARE(resolved("C:\\DIR\\Data.TXT"), QStringLiteral("Dir/Data.TXT"));
    QCOMPARE(resolved("C:\\DIR\\DATA.TXT"),
             QStringLiteral("Dir/DATA.txt")); // "DATA.txt" < "Data.TXT" < "data.txt"
    QCOMPARE(resolved("C:\\DIR\\NONE.TXT"), QString());
}

void TestHostLayer::listingSeesChangesMadeBetweenLookups()
{
    TestEnvironment env;
    env.write(QStringLiteral("c/App/a.txt"));
    QVERIFY(FileExists(QStringLiteral("C:\\APP\\A.TXT")));
    QVERIFY(!FileExists(QStringLiteral("C:\\APP\\B.TXT")));
    env.write(QStringLiteral("c/App/b.txt"));
    QVERIFY(FileExists(QStringLiteral("C:\\APP\\B.TXT")));
    QFile::remove(env.driveC() + QStringLiteral("/App/a.txt"));
    QVERIFY(!FileExists(QStringLiteral("C:\\APP\\A.TXT")));
    QCOMPARE(FindFiles(QStringLiteral("C:\\APP"), QStringLiteral("*.TXT")),
             (QStringList{QString(), QStringLiteral("C:\\APP\\b.txt")}));
}

void TestHostLayer::entryNames()
{
    TestEnvironment env;
    env.write(QStringLiteral("c/Tess/logs/a.log"));
    const std::optional<HostLocation> l = HostPath::Resolve(QStringLiteral("c:\\TESS\\LOGS\\A.LOG"));
    QVERIFY(l);
    QCOMPARE(l->entryName(), QStringLiteral("C/Tess/logs/a.log"));
    const ScopedEnv share("TS6_DRIVES", QStringLiteral("\\\\Server\\Share=") + env.driveC());
    const std::optional<HostLocation> u =
        HostPath::Resolve(QStringLiteral("\\\\server\\share\\tess\\logs\\a.log"));
    QVERIFY(u);
    QCOMPARE(u->entryName(), QStringLiteral("UNC/Server/Share/Tess/logs/a.log"));
}

void TestHostLayer::programDataAndTempFolders()
{
    TestEnvironment env;
    QCOMPARE(GetProgramDataPath(),
             QStringLiteral("Z:") + QString(env.programData()).replace(QLatin1Char('/'), QLatin1Char('\\')));
    const ScopedEnv data("TS6_PROGRAMDATA", env.driveC() + QStringLiteral("/ProgramData/"));
    QCOMPARE(GetProgramDataPath(), QStringLiteral("C:\\ProgramData"));
    const ScopedEnv onRoot("TS6_PROGRAMDATA", env.driveC());
    QCOMPARE(GetProgramDataPath(), QStringLiteral("C:"));
    const ScopedEnv tmp("TMPDIR", env.makeFolder(QStringLiteral("c/Temp")));
    QCOMPARE(Host::TempFolder(), QStringLiteral("C:\\Temp"));
    // Shared like /tmp: a private folder of this user inside it.
    QFile::setPermissions(env.driveC() + QStringLiteral("/Temp"), QFileDevice::Permissions(0x7777));
    QCOMPARE(Host::TempFolder(), QStringLiteral("C:\\Temp\\ts6satchel-%1").arg(::geteuid()));
    QCOMPARE(QFileInfo(env.driveC() + QStringLiteral("/Temp/ts6satchel-%1").arg(::geteuid())).permissions() &
                 0x0077,
             QFileDevice::Permissions());
}

void TestHostLayer::fileVersions()
{
    TestEnvironment env;
    env.write(QStringLiteral("c/Tess/TS6.EXE"), MakeVersionedProgram(6, 1, 0, 400));
    env.write(QStringLiteral("c/Tess/plain.exe"), MakeProgramWithoutVersion());
    env.write(QStringLiteral("c/Tess/notes.txt"), "MZ but not a program");
    env.write(QStringLiteral("c/Tess/trunc.exe"), MakeVersionedProgram(1, 2, 3, 4).left(0x250));
    QCOMPARE(ReadFileVersion(QStringLiteral("C:\\TESS\\TS6.EXE")), QStringLiteral("6.1.0.400"));
    QCOMPARE(ReadFileVersion(QStringLiteral("C:\\TESS\\PLAIN.EXE")), QString());
    QCOMPARE(ReadFileVersion(QStringLiteral("C:\\TESS\\NOTES.TXT")), QString());
    QCOMPARE(ReadFileVersion(QStringLiteral("C:\\TESS\\TRUNC.EXE")), QString());
    QCOMPARE(ReadFileVersion(QStringLiteral("C:\\TESS\\MISSING.EXE")), QString());
    QCOMPARE(ReadFileVersion(QStringLiteral("C:\\TESS")), QString());
}

QTEST_GUILESS_MAIN(TestHostLayer)
#include "tst_hostlayer.moc"
