#include "catalogue/PathHelpers.h"
#include "outside/HostFunctions.h"
#include "platform/CommandLine.h"
#include "platform/Descriptors.h"
#include "platform/HostPath.h"
#include "platform/Wildcard.h"
#include "support/PeWriter.h"
#include "support/TestEnvironment.h"

#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// The ways a path row is read: from Windows to the host, back, or both.
constexpr int toHost = 1, toWindows = 2, Both = toHost | toWindows;

class TestHostLayer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wildcards();
    void pathsOnTheHost_data();
    void pathsOnTheHost();
    void lookups_data();
    void lookups();
    void listingSeesChangesMadeBetweenLookups();
    void programDataAndTempFolders();
    void fileVersions();
    void opensBelowAFolderWithoutLinks_data();
    void opensBelowAFolderWithoutLinks();
};

// Windows' wildcards: "?" before a dot may match nothing, "*.*" matches names without a dot.
void TestHostLayer::wildcards()
{
    const auto matches = [](const char* pattern, const char* name) {
        return matchesWildcard(QString::fromLatin1(pattern), QString::fromLatin1(name));
    };
    QVERIFY(!matches("*.TST?", "X.TST66"));
    QVERIFY(!matches("*.TST?", "X.TSD6"));
    QVERIFY(matches("*.*", "README") && matches("*.*", "a.b.c"));
    QVERIFY(matches("AB?.TXT", "AB.TXT"));
    QVERIFY(!matches("A?C", "AC"));
    QVERIFY(matches("*.CONFIG", "app.settings.config"));
    QVERIFY(matches("*LOG", "LOG"));
}

void TestHostLayer::pathsOnTheHost_data()
{
    QTest::addColumn<QString>("drives");
    QTest::addColumn<QString>("windowsPath");
    QTest::addColumn<QString>("hostPath"); // "" when the path cannot lie anywhere
    QTest::addColumn<int>("ways");
    const auto row = [](const char* name, const QString& drives, const QString& windows, const QString& host,
                        int ways) { QTest::newRow(name) << drives << windows << host << ways; };
    row("mapped drive", "C=/srv/c", "C:\\App\\x.tst6", "/srv/c/App/x.tst6", Both);
    row("letters are case-blind", "c=/srv/c", "C:\\a", "/srv/c/a", toHost);
    row("forward slashes separate too", "C=/srv/c", "C:/a/b", "/srv/c/a/b", toHost);
    row("dot-dot never above the root", "C=/srv/c", "C:\\..\\..\\a\\.\\b", "/srv/c/a/b", toHost);
    row("Z is the host root, and elsewhere", "C=/srv/c", "Z:\\etc\\hosts", "/etc/hosts", Both);
    row("Z remapped", "Z=/mnt/z", "Z:\\etc", "/mnt/z/etc", Both);
    row("unmapped drive", "C=/srv/c", "D:\\x", "", toHost);
    row("share", "\\\\files\\tess=/srv/share", "\\\\FILES\\Tess\\a\\b", "/srv/share/a/b", toHost);
    row("share as mapped", "\\\\fs\\t=/srv/share", "\\\\fs\\t\\a", "/srv/share/a", Both);
    row("unknown share", "", "\\\\files\\tess\\a", "", toHost);
    row("rubbish in the map is ignored", "CC=/x;;=;D=relative;E=/e", "E:\\", "/e", toHost);
    row("trailing blanks and dots dropped", "C=/srv/c", "C:\\HELP. \\MAIN.HLP \\IN.CSV.",
        "/srv/c/HELP/MAIN.HLP/IN.CSV", toHost);
    row("NUL in a name", "C=/srv/c", u"C:\\ETC\\PASSWD"_s + QChar(0) + ".CSV", "", toHost);
    row("a character Windows never allows", "C=/srv/c", "C:\\A|B", "", toHost);
    row("a stream name", "C=/srv/c", "C:\\A.TXT:secret", "", toHost);
    row("share after three backslashes", "\\\\files\\tess=/srv/share", "\\\\\\files\\tess\\a", "", toHost);
    row("empty name between server and share", "\\\\files\\tess=/srv/share", "\\\\files\\\\tess\\a", "",
        toHost);
    row("component-wise prefix only", "C=/srv/tess/c", "Z:\\srv\\tess\\cc\\a", "/srv/tess/cc/a", toWindows);
    row("longest prefix wins", "C=/srv;D=/srv/d", "D:\\x", "/srv/d/x", Both);
    row("drive root", "C=/srv/c", "C:\\", "/srv/c", Both);
    row("trailing slash kept", "C=/srv/c", "C:\\App\\", "/srv/c/App/", toWindows);
    row("already Windows-style", "", "D:\\x", "D:\\x", toWindows);
}

void TestHostLayer::pathsOnTheHost()
{
    QFETCH(QString, drives);
    QFETCH(QString, windowsPath);
    QFETCH(QString, hostPath);
    QFETCH(int, ways);
    const ScopedEnv env("TS6_DRIVES", drives);
    const std::optional<HostLocation> parsed = HostPath::parse(windowsPath);
    if (ways & toHost)
        QCOMPARE(parsed ? parsed->hostPath() : QString(), hostPath);
    if (ways & toWindows)
        QCOMPARE(HostPath::toWindows(hostPath), windowsPath);
}

void TestHostLayer::lookups_data()
{
    QTest::addColumn<QString>("windowsPath");
    QTest::addColumn<QString>("found"); // the entry name of what was found, or why nothing was
    const auto row = [](const char* name, const QString& path, const QString& found) {
        QTest::newRow(name) << path << found;
    };
    row("exact name first", "c:\\dir\\data.txt", "C/Dir/data.txt");
    row("exact name, other spelling", "C:\\DIR\\Data.TXT", "C/Dir/Data.TXT");
    row("else the first in byte order", "C:\\DIR\\DATA.TXT",
        "C/Dir/DATA.txt"); // DATA.txt < Data.TXT < data.txt
    row("share, spelled as mapped", "\\\\server\\share\\dir\\data.txt", "UNC/Server/Share/Dir/data.txt");
    row("missing", "C:\\DIR\\NONE.TXT", "No such file or directory");
    row("NUL after an existing name", u"C:\\DIR\\data.txt"_s + QChar(0) + ".CSV", "Invalid file name");
    row("name past the host's limit", "C:\\DIR\\" + QString(256, u'a'), "File name too long");
    QString deep = u"C:"_s;
    while (deep.size() < 4100)
        deep += u'\\' + QString(200, u'd');
    row("path past the host's limit", deep, "File name too long");
}

void TestHostLayer::lookups()
{
    QFETCH(QString, windowsPath);
    TestEnvironment env;
    const ScopedEnv drives("TS6_DRIVES", "C=" + env.driveC() + ";\\\\Server\\Share=" + env.driveC());
    for (const char* file : {"c/Dir/data.txt", "c/Dir/DATA.txt", "c/Dir/Data.TXT"})
        env.write(QLatin1String(file));
    HostPath::Miss miss = HostPath::Miss::None;
    const std::optional<HostLocation> l = HostPath::resolve(windowsPath, &miss);
    QTEST(l ? l->entryName() : HostPath::missReason(miss), "found");
}

void TestHostLayer::listingSeesChangesMadeBetweenLookups()
{
    TestEnvironment env;
    env.write(u"c/App/a.txt"_s);
    QVERIFY(FileExists(u"C:\\APP\\A.TXT"_s));
    QVERIFY(!FileExists(u"C:\\APP\\B.TXT"_s));
    env.write(u"c/App/b.txt"_s);
    QVERIFY(FileExists(u"C:\\APP\\B.TXT"_s));
    QFile::remove(env.driveC() + u"/App/a.txt"_s);
    QVERIFY(!FileExists(u"C:\\APP\\A.TXT"_s));
    QCOMPARE(FindFiles(u"C:\\APP"_s, u"*.TXT"_s), (QStringList{QString(), u"C:\\APP\\b.txt"_s}));
    {
        // Within one load or build a folder is listed once: later changes show after it, except
        // a name looked up exactly (the files the program writes itself).
        const Host::ListingScope load;
        QVERIFY(FileExists(u"C:\\APP\\B.TXT"_s));
        env.write(u"c/App/c.txt"_s);
        QVERIFY(!FileExists(u"C:\\APP\\C.TXT"_s));
        QVERIFY(FileExists(u"C:\\APP\\c.txt"_s));
    }
    QVERIFY(FileExists(u"C:\\APP\\C.TXT"_s));
}

void TestHostLayer::programDataAndTempFolders()
{
    TestEnvironment env;
    QCOMPARE(GetProgramDataPath(), u"Z:"_s + QString(env.programData()).replace(u'/', u'\\'));
    const ScopedEnv data("TS6_PROGRAMDATA", env.driveC() + u"/ProgramData/"_s);
    QCOMPARE(GetProgramDataPath(), u"C:\\ProgramData"_s);
    const ScopedEnv onRoot("TS6_PROGRAMDATA", env.driveC());
    QCOMPARE(GetProgramDataPath(), u"C:"_s);
    const QString temp = env.makeFolder(u"c/Temp"_s);
    const ScopedEnv tmp("TMPDIR", temp);
    // Shared like /tmp: a private folder of this user inside it.
    QFile::setPermissions(temp, QFileDevice::Permissions(0x7777));
    QCOMPARE(Host::tempFolder(), u"C:\\Temp\\ts6satchel-%1"_s.arg(::geteuid()));
    QCOMPARE(QFileInfo(temp + u"/ts6satchel-%1"_s.arg(::geteuid())).permissions() & 0x0077,
             QFileDevice::Permissions());
}

void TestHostLayer::fileVersions()
{
    TestEnvironment env;
    env.write(u"c/Tess/plain.exe"_s, makeProgramWithoutVersion());
    env.write(u"c/Tess/notes.txt"_s, "MZ but not a program");
    env.write(u"c/Tess/trunc.exe"_s, makeVersionedProgram(1, 2, 3, 4).left(0x250));
    for (const char* none : {"PLAIN.EXE", "NOTES.TXT", "TRUNC.EXE", "MISSING.EXE", ""})
        QVERIFY2(ReadFileVersion(u"C:\\TESS\\"_s + QLatin1String(none)).isEmpty(), none);
}

void TestHostLayer::opensBelowAFolderWithoutLinks_data()
{
    QTest::addColumn<QByteArray>("relative");
    QTest::addColumn<int>("error"); // 0: opened
    QTest::newRow("a file two folders down") << QByteArray("a/b/f") << 0;
    QTest::newRow("the folder itself") << QByteArray(".") << 0;
    QTest::newRow("a link on the way") << QByteArray("a/up/b/f") << ELOOP;
    QTest::newRow("a link at the end") << QByteArray("a/b/link") << ELOOP;
    QTest::newRow("above the folder") << QByteArray("../x") << EXDEV;
}

// Both ways of opening below a folder (one call, and a component at a time where the system has
// no such call) refuse every link, wherever it stands, and never leave the folder.
void TestHostLayer::opensBelowAFolderWithoutLinks()
{
    QFETCH(QByteArray, relative);
    TestEnvironment env;
    env.write(u"t/a/b/f"_s, "file");
    env.write(u"x"_s, "outside");
    QVERIFY(QFile::link(env.path(u"t/a"_s), env.path(u"t/a/up"_s)));
    QVERIFY(QFile::link(env.path(u"t/a/b/f"_s), env.path(u"t/a/b/link"_s)));
    const UniqueFd root(::open(QFile::encodeName(env.path(u"t"_s)).constData(), O_RDONLY | O_DIRECTORY));
    for (const auto open : {Descriptors::openBeneath, Descriptors::openBeneathByComponents}) {
        errno = 0;
        const UniqueFd fd = open(root.get(), relative, O_RDONLY);
        QTEST(fd ? 0 : errno, "error");
    }
}

QTEST_GUILESS_MAIN(TestHostLayer)
#include "tst_hostlayer.moc"
