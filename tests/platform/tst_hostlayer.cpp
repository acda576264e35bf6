#include "catalogue/PathHelpers.h"
#include "outside/HostFunctions.h"
#include "platform/HostPath.h"
#include "platform/Wildcard.h"
#include "support/ArchiveCheck.h"
#include "support/Installation.h"
#include "support/PeWriter.h"
#include "support/TestEnvironment.h"

#include <QProcess>
#include <QTest>

#include <cstdio>
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
    void lookups_data();
    void lookups();
    void listingSeesChangesMadeBetweenLookups();
    void packageOfAWindowsCopy_data();
    void packageOfAWindowsCopy();
    void entryNames();
    void programDataAndTempFolders();
    void fileVersions();

private:
    std::unique_ptr<TestEnvironment> m_copy; // the Windows copy that packageOfAWindowsCopy packs
    QStringList m_entries;
    QString m_manifest;
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
    QTest::newRow("trailing blanks and dots dropped") << "C=/srv/c"
                                                      << "C:\\HELP. \\MAIN.HLP \\IN.CSV."
                                                      << "/srv/c/HELP/MAIN.HLP/IN.CSV";
    QTest::newRow("NUL in a name") << "C=/srv/c" << QStringLiteral("C:\\ETC\\PASSWD") + QChar(0) + ".CSV"
                                   << "";
    QTest::newRow("a character Windows never allows") << "C=/srv/c"
                                                      << "C:\\A|B"
                                                      << "";
    QTest::newRow("a stream name") << "C=/srv/c"
                                   << "C:\\A.TXT:secret"
                                   << "";
    QTest::newRow("share after three backslashes") << "\\\\files\\tess=/srv/share"
                                                   << "\\\\\\files\\tess\\a"
                                                   << "";
    QTest::newRow("empty name between server and share") << "\\\\files\\tess=/srv/share"
                                                         << "\\\\files\\\\tess\\a"
                                                         << "";
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

void TestHostLayer::lookups_data()
{
    QTest::addColumn<QString>("windowsPath");
    QTest::addColumn<QString>("found"); // the components found, or why nothing was
    QTest::newRow("exact name first") << "C:\\dir\\data.txt"
                                      << "Dir/data.txt";
    QTest::newRow("exact name, other spelling") << "C:\\DIR\\Data.TXT"
                                                << "Dir/Data.TXT";
    QTest::newRow("else the first in byte order") << "C:\\DIR\\DATA.TXT"
                                                  << "Dir/DATA.txt"; // "DATA.txt" < "Data.TXT" < "data.txt"
    QTest::newRow("missing") << "C:\\DIR\\NONE.TXT"
                             << "No such file or directory";
    QTest::newRow("trailing blank") << "C:\\DIR\\DATA.TXT "
                                    << "Dir/DATA.txt";
    QTest::newRow("trailing dots") << "C:\\DIR..\\data.txt."
                                   << "Dir/data.txt";
    QTest::newRow("NUL after an existing name") << QStringLiteral("C:\\DIR\\data.txt") + QChar(0) + ".CSV"
                                                << "Invalid file name";
    QTest::newRow("name past the host's limit")
        << QStringLiteral("C:\\DIR\\") + QString(256, QLatin1Char('a')) << "File name too long";
    QString deep = QStringLiteral("C:");
    while (deep.size() < 4100)
        deep += QLatin1Char('\\') + QString(200, QLatin1Char('d'));
    QTest::newRow("path past the host's limit") << deep << "File name too long";
}

void TestHostLayer::lookups()
{
    TestEnvironment env;
    env.write(QStringLiteral("c/Dir/data.txt"), "lower");
    env.write(QStringLiteral("c/Dir/DATA.txt"), "upper");
    env.write(QStringLiteral("c/Dir/Data.TXT"), "mixed");
    QFETCH(QString, windowsPath);
    QFETCH(QString, found);
    HostPath::Miss miss = HostPath::Miss::None;
    const std::optional<HostLocation> l = HostPath::Resolve(windowsPath, &miss);
    QCOMPARE(l ? l->components.join(QLatin1Char('/')) : HostPath::MissReason(miss), found);
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
    {
        // Within one load or build a folder is listed once: later changes show after it, except
        // a name looked up exactly (the files the program writes itself).
        const Host::ListingScope load;
        QVERIFY(FileExists(QStringLiteral("C:\\APP\\B.TXT")));
        env.write(QStringLiteral("c/App/c.txt"));
        QVERIFY(!FileExists(QStringLiteral("C:\\APP\\C.TXT")));
        QVERIFY(FileExists(QStringLiteral("C:\\APP\\c.txt")));
    }
    QVERIFY(FileExists(QStringLiteral("C:\\APP\\C.TXT")));
}

void TestHostLayer::packageOfAWindowsCopy_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("packed");
    QTest::newRow("help file named with a trailing blank") << "C/HELP/main.hlp" << true;
    QTest::newRow("input file named with a trailing dot") << "C/DATA/in.csv" << true;
    QTest::newRow("input file of a template named in cp1252") << "C/DATA/cafe.csv" << true;
    QTest::newRow("companion that is a link to a file") << "C/App/orders.tsm6" << true;
    QTest::newRow("companion that is a folder") << "C:\\APP\\ORDERS.TSA6" << false;
    QTest::newRow("companion that is a dangling link") << "C:\\APP\\ORDERS.TSL6" << false;
    QTest::newRow("a path holding NUL is listed") << "C:\\ETC\\PASSWD" << true;
    QTest::newRow("but packs nothing") << "C/ETC/PASSWD" << false;
}

// A folder copied from Windows, packed once by the program in a batch start: each row names an
// entry of the package, or a line of its manifest ("C:\\..."), and whether it is there.
void TestHostLayer::packageOfAWindowsCopy()
{
    if (!m_copy) {
        m_copy = std::make_unique<TestEnvironment>();
        TestEnvironment& env = *m_copy;
        TemplateSpec orders;
        orders.fields = {{QStringLiteral("A"), QString(), QString(), QStringLiteral("C:\\DATA\\IN.CSV."),
                          QString(), QStringLiteral("C:\\HELP\\MAIN.HLP ")}};
        env.write(QStringLiteral("c/App/orders.tst6"), TemplateToml(orders));
        env.write(QStringLiteral("c/App/orders.tsd6"));
        env.makeFolder(QStringLiteral("c/App/orders.tsa6/inside"));
        QFile::link(QStringLiteral("nowhere"), env.driveC() + QStringLiteral("/App/orders.tsl6"));
        QFile::link(QStringLiteral("orders.tsd6"), env.driveC() + QStringLiteral("/App/orders.tsm6"));
        TemplateSpec cafe;
        cafe.fields = {{QStringLiteral("B"), QString(), QString(), QStringLiteral("C:\\DATA\\CAFE.CSV"),
                        QString(), QString()}};
        const QString cafePath = env.write(QStringLiteral("c/App/cafe.tst6"), TemplateToml(cafe));
        QCOMPARE(::rename(QFile::encodeName(cafePath).constData(),
                          QFile::encodeName(env.driveC() + QStringLiteral("/App/caf")) + "\xe9.tst6"),
                 0); // named in cp1252
        env.write(QStringLiteral("c/App/passwd.tst6"),
                  "[Template]\n[[Field]]\nInputFile = \"C:\\\\ETC\\\\PASSWD\\u0000.CSV\"\n");
        for (const char* file : {"c/HELP/main.hlp", "c/DATA/in.csv", "c/DATA/cafe.csv", "c/ETC/PASSWD"})
            env.write(QString::fromLatin1(file));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        QProcess program;
        program.setProcessEnvironment(environment);
        const QString package = env.root() + QStringLiteral("/out.zip");
        program.start(QStringLiteral(TS6_PROGRAM), {QStringLiteral("C:\\APP\\"), package});
        QVERIFY(program.waitForFinished(120000));
        QCOMPARE(program.exitCode(), 0);
        const ArchiveReport report = CheckArchive(package);
        QVERIFY2(report.valid(), qPrintable(report.details));
        m_entries = report.names;
        m_manifest = QString::fromUtf8(ReadEntry(package, QStringLiteral("TSVERSION.TXT")));
    }
    QFETCH(QString, entry);
    QFETCH(bool, packed);
    const bool there = entry.contains(QLatin1Char(':'))
                           ? m_manifest.contains(entry)
                           : std::any_of(m_entries.begin(), m_entries.end(),
                                         [&](const QString& n) { return n.startsWith(entry); });
    QVERIFY2(there == packed, qPrintable(m_entries.join(QLatin1Char(' ')) + QLatin1Char('\n') + m_manifest));
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
