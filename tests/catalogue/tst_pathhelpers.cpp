#include "base/RuntimeError.h"
#include "catalogue/PathHelpers.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTest>

class TestPathHelpers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isRootedPath_data();
    void isRootedPath();
    void joinPath();
    void removeExtension_data();
    void removeExtension();
    void getExtension_data();
    void getExtension();
    void splitCommandLine_data();
    void splitCommandLine();
    void splitCommandLineRejectsBrokenQuotes();
    void smallTextHelpers();
    void folderAndFileParts_data();
    void folderAndFileParts();
    void findFiles();
    void fileAndFolderExistence_data();
    void fileAndFolderExistence();
};

void TestPathHelpers::isRootedPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("rooted");
    QTest::newRow("drive") << "C:\\APP" << true;
    QTest::newRow("lower-case drive") << "c:\\app" << true;
    QTest::newRow("drive root") << "D:\\" << true;
    QTest::newRow("drive without backslash") << "C:APP" << false;
    QTest::newRow("two characters") << "C:" << false;
    QTest::newRow("digit as drive") << "1:\\APP" << false;
    QTest::newRow("share") << "\\\\server\\share" << true;
    QTest::newRow("server alone") << "\\\\server" << false;
    QTest::newRow("three backslashes") << "\\\\\\name" << true;
    QTest::newRow("relative") << "APP\\X.TST6" << false;
    QTest::newRow("root of current drive") << "\\APP" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("forward slashes") << "C:/APP" << false;
}

void TestPathHelpers::isRootedPath()
{
    QFETCH(QString, path);
    QFETCH(bool, rooted);
    QCOMPARE(IsRootedPath(path), rooted);
}

void TestPathHelpers::joinPath()
{
    const QString bs = QStringLiteral("\\");
    QCOMPARE(JoinPath(bs, {QStringLiteral("C:\\APP"), QStringLiteral("X.TST6")}),
             QStringLiteral("C:\\APP\\X.TST6"));
    QCOMPARE(JoinPath(bs, {QStringLiteral("C:\\APP\\"), QStringLiteral("X.TST6")}),
             QStringLiteral("C:\\APP\\X.TST6"));
    QCOMPARE(JoinPath(bs, {}), QString());
    QCOMPARE(JoinPath(bs, {QStringLiteral("C:\\")}), QStringLiteral("C:"));
    QCOMPARE(JoinPath(bs, {QString(), QStringLiteral("A")}), QStringLiteral("\\A"));
    QCOMPARE(JoinPath(bs, {QStringLiteral("C:\\A\\"), QStringLiteral("\\B")}), QStringLiteral("C:\\A\\\\B"));
    QCOMPARE(JoinPath(bs, {QStringLiteral("A"), QString(), QStringLiteral("B")}), QStringLiteral("A\\\\B"));
}

void TestPathHelpers::removeExtension_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "ORDERS.TST6"
                           << "ORDERS";
    QTest::newRow("two dots") << "A.B.C"
                              << "A.B";
    QTest::newRow("only a leading dot") << ".hidden"
                                        << "";
    QTest::newRow("no dot") << "TSSatchelage"
                            << "TSSatchelage";
    QTest::newRow("dot in folder") << "C:\\V1.2\\NAME"
                                   << "C:\\V1";
    QTest::newRow("blanks trimmed") << "  NAME .TST6"
                                    << "NAME";
}

void TestPathHelpers::removeExtension()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(RemoveExtension(name), expected);
}

void TestPathHelpers::getExtension_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "C:\\APP\\A.TSD6"
                           << ".TSD6";
    QTest::newRow("several dots") << "A.LOGS.TSSDB6"
                                  << ".TSSDB6";
    QTest::newRow("ends with dot") << "NAME."
                                   << ".";
    QTest::newRow("dot only in folder") << "C:\\V1.2\\NAME"
                                        << "";
    QTest::newRow("drive-relative") << "C:NAME"
                                    << "";
    QTest::newRow("no dot") << "NAME"
                            << "";
    QTest::newRow("view file") << "C:\\A\\ORDERS.TVM6.V3"
                               << ".V3";
}

void TestPathHelpers::getExtension()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(GetExtension(path), expected);
}

void TestPathHelpers::splitCommandLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("rest");
    QTest::newRow("unquoted takes all") << "C:\\APP\\ D:\\OUT.ZIP"
                                        << "C:\\APP\\ D:\\OUT.ZIP"
                                        << "";
    QTest::newRow("unquoted keeps blanks") << " C:\\A "
                                           << " C:\\A "
                                           << "";
    QTest::newRow("quoted alone") << "\"C:\\APP\\\""
                                  << "C:\\APP\\"
                                  << "";
    QTest::newRow("two quoted") << "\"C:\\APP\\\" \"D:\\OUT.ZIP\""
                                << "C:\\APP\\"
                                << "D:\\OUT.ZIP";
    QTest::newRow("quoted then bare") << "\"C:\\A\\\"   D:\\OUT.ZIP  "
                                      << "C:\\A\\"
                                      << "D:\\OUT.ZIP";
    QTest::newRow("adjacent quotes") << "\"\""
                                     << ""
                                     << "";
    QTest::newRow("rest with one quote kept") << "\"A\" \"B"
                                              << "A"
                                              << "\"B";
}

void TestPathHelpers::splitCommandLine()
{
    QFETCH(QString, line);
    QFETCH(QString, first);
    QFETCH(QString, rest);
    QString gotFirst, gotRest = QStringLiteral("old");
    SplitCommandLine(line, gotFirst, gotRest);
    QCOMPARE(gotFirst, first);
    QCOMPARE(gotRest, rest);
}

void TestPathHelpers::splitCommandLineRejectsBrokenQuotes()
{
    for (const char* line : {"\"C:\\APP", "\"", "\"A\" \""}) {
        QString first, rest;
        try {
            SplitCommandLine(QString::fromLatin1(line), first, rest);
            QFAIL(line);
        } catch (const RuntimeError& e) {
            QCOMPARE(e.number(), 5);
        }
    }
}

void TestPathHelpers::smallTextHelpers()
{
    QCOMPARE(MakeRelativePath(QStringLiteral("C:\\APP\\BATCH\\PRE.BAT"), QStringLiteral("c:\\app\\")),
             QStringLiteral("BATCH\\PRE.BAT"));
    QCOMPARE(MakeRelativePath(QStringLiteral("C:\\APP\\PRE.BAT"), QStringLiteral("C:\\APP")),
             QStringLiteral("\\PRE.BAT"));
    QCOMPARE(MakeRelativePath(QStringLiteral("D:\\PRE.BAT"), QStringLiteral("C:\\APP\\")),
             QStringLiteral("D:\\PRE.BAT"));
    QCOMPARE(MakeRelativePath(QStringLiteral("D:\\PRE.BAT"), QString()), QStringLiteral("D:\\PRE.BAT"));

    const QStringList list{QString(), QStringLiteral("c:\\a.txt"), QStringLiteral("C:\\B.TXT")};
    QVERIFY(StringExistsInArray(QStringLiteral("C:\\B.TXT"), list));
    QVERIFY(!StringExistsInArray(QStringLiteral("C:\\A.TXT"), list));
    QVERIFY(!StringExistsInArray(QStringLiteral("x"), QStringList()));

    QCOMPARE(AddBackslash(QStringLiteral("C:\\")), QStringLiteral("C:\\"));
    QCOMPARE(AddBackslash(QString()), QStringLiteral("\\"));
    QCOMPARE(AddBackslash(QStringLiteral("C:\\A")), QStringLiteral("C:\\A\\"));
    QCOMPARE(TrimAtNull(QStringLiteral("AB") + QChar(u'\0') + QStringLiteral("CD")), QStringLiteral("AB"));
    QCOMPARE(TrimAtNull(QStringLiteral("AB")), QStringLiteral("AB"));
}

void TestPathHelpers::folderAndFileParts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("template") << "C:\\APP\\ORDERS.TST6"
                              << "C:\\APP\\"
                              << "ORDERS.TST6";
    QTest::newRow("folder with backslash") << "C:\\APP\\"
                                           << "C:\\APP\\"
                                           << "";
    QTest::newRow("folder without backslash") << "C:\\APP"
                                              << "C:\\"
                                              << "APP";
    QTest::newRow("bare name") << "ORDERS.TST6"
                               << ""
                               << "ORDERS.TST6";
    QTest::newRow("drive-relative") << "C:ORDERS.TST6"
                                    << "C:"
                                    << "ORDERS.TST6";
}

void TestPathHelpers::folderAndFileParts()
{
    TestEnvironment env;
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QCOMPARE(GetPath(path), folder);
    QCOMPARE(GetFileName(path), name);
}

void TestPathHelpers::findFiles()
{
    TestEnvironment env;
    env.write(QStringLiteral("c/App/orders.tst6"));
    env.write(QStringLiteral("c/App/Stock.TST"));
    env.write(QStringLiteral("c/App/notes.txt"));
    env.write(QStringLiteral("c/App/.hidden.tst6"));
    env.makeFolder(QStringLiteral("c/App/X.TST6"));

    const QStringList none = FindFiles(QStringLiteral("C:\\APP"), QStringLiteral("*.ZZZ"));
    QCOMPARE(none, QStringList{QString()});
    QCOMPARE(FindFiles(QStringLiteral("C:\\NOWHERE"), QStringLiteral("*.*")), QStringList{QString()});

    const QStringList expected{QString(), QStringLiteral("C:\\APP\\.hidden.tst6"),
                               QStringLiteral("C:\\APP\\orders.tst6"), QStringLiteral("C:\\APP\\Stock.TST"),
                               QStringLiteral("C:\\APP\\X.TST6")};
    QCOMPARE(FindFiles(QStringLiteral("C:\\APP"), QStringLiteral("*.TST?")), expected);
    QCOMPARE(FindFiles(QStringLiteral("C:\\APP\\"), QStringLiteral("*.TST?")), expected);
    QCOMPARE(FindFiles(QStringLiteral("C:\\APP\\"), QStringLiteral("ORDERS.TST6")),
             (QStringList{QString(), QStringLiteral("C:\\APP\\orders.tst6")}));
    QVERIFY(
        FindFiles(QStringLiteral("C:\\APP"), QStringLiteral("*")).contains(QStringLiteral("C:\\APP\\..")));
}

void TestPathHelpers::fileAndFolderExistence_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("file");
    QTest::addColumn<bool>("folder");
    QTest::newRow("file, exact case") << "C:\\App\\orders.tst6" << true << false;
    QTest::newRow("file, upper case") << "C:\\APP\\ORDERS.TST6" << true << false;
    QTest::newRow("file, lower-case drive") << "c:\\app\\orders.tst6" << true << false;
    QTest::newRow("folder") << "C:\\APP" << true << true;
    QTest::newRow("folder with backslash") << "C:\\APP\\" << true << true;
    QTest::newRow("hidden folder") << "C:\\APP\\.CACHE" << true << false;
    QTest::newRow("hidden folder with backslash") << "C:\\APP\\.CACHE\\" << true << true;
    QTest::newRow("hidden file") << "C:\\APP\\.SECRET" << true << false;
    QTest::newRow("missing") << "C:\\APP\\MISSING.TST6" << false << false;
    QTest::newRow("missing folder on the way") << "C:\\NOPE\\ORDERS.TST6" << false << false;
    QTest::newRow("relative, even though it exists") << "orders.tst6" << false << false;
    QTest::newRow("unmapped drive") << "Q:\\APP" << false << false;
    QTest::newRow("dot-dot resolved by text") << "C:\\APP\\..\\APP\\ORDERS.TST6" << true << false;
    QTest::newRow("empty") << "" << false << false;
}

void TestPathHelpers::fileAndFolderExistence()
{
    TestEnvironment env;
    env.write(QStringLiteral("c/App/orders.tst6"));
    env.write(QStringLiteral("c/App/.secret"));
    env.makeFolder(QStringLiteral("c/App/.cache"));
    const QString old = QDir::currentPath();
    QDir::setCurrent(env.driveC() + QStringLiteral("/App")); // relative paths would find the file here
    QFETCH(QString, path);
    QFETCH(bool, file);
    QFETCH(bool, folder);
    const bool fileResult = FileExists(path);
    const bool folderResult = FolderExists(path);
    QDir::setCurrent(old);
    QCOMPARE(fileResult, file);
    QCOMPARE(folderResult, folder);
}

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "tst_pathhelpers.moc"
