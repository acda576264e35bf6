#include "base/RuntimeError.h"
#include "catalogue/PathHelpers.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTest>

#include <functional>
#include <map>

using namespace Qt::StringLiterals;

namespace {

QString yesNo(bool value)
{
    return value ? u"yes"_s : u"no"_s;
}

QString joined(const QStringList& a)
{
    const QString bs = u"\\"_s;
    return a.isEmpty()     ? JoinPath(bs, {})
           : a.size() == 1 ? JoinPath(bs, {a[0]})
           : a.size() == 2 ? JoinPath(bs, {a[0], a[1]})
                           : JoinPath(bs, {a[0], a[1], a[2]});
}

QString split(const QString& line)
{
    QString first, rest = u"old"_s;
    SplitCommandLine(line, first, rest);
    return first + u" + "_s + rest;
}

// Each helper as a function of its arguments, its result as text.
const std::map<QString, std::function<QString(const QStringList&)>> kHelpers = {
    {u"IsRootedPath"_s, [](const QStringList& a) { return yesNo(IsRootedPath(a[0])); }},
    {u"JoinPath"_s, joined},
    {u"RemoveExtension"_s, [](const QStringList& a) { return RemoveExtension(a[0]); }},
    {u"GetExtension"_s, [](const QStringList& a) { return GetExtension(a[0]); }},
    {u"GetPath, GetFileName"_s,
     [](const QStringList& a) { return GetPath(a[0]) + u" + "_s + GetFileName(a[0]); }},
    {u"SplitCommandLine"_s, [](const QStringList& a) { return split(a[0]); }},
    {u"MakeRelativePath"_s, [](const QStringList& a) { return MakeRelativePath(a[0], a[1]); }},
    {u"StringExistsInArray"_s,
     [](const QStringList& a) { return yesNo(StringExistsInArray(a[0], a.mid(1))); }},
    {u"AddBackslash"_s, [](const QStringList& a) { return AddBackslash(a[0]); }},
    {u"TrimAtNull"_s, [](const QStringList& a) { return TrimAtNull(a[0]); }},
    {u"FindFiles"_s, [](const QStringList& a) { return FindFiles(a[0], a[1]).join(u'|'); }},
    {u"FileExists, FolderExists"_s,
     [](const QStringList& a) { return yesNo(FileExists(a[0])) + u", "_s + yesNo(FolderExists(a[0])); }},
};

void row(const char* helper, const char* name, const QStringList& arguments, const QString& expected)
{
    QTest::addRow("%s: %s", helper, name) << QString::fromLatin1(helper) << arguments << expected;
}

} // namespace

class TestPathHelpers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void helper_data();
    void helper();
};

void TestPathHelpers::helper_data()
{
    QTest::addColumn<QString>("helper");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected"); // "error N" for a run-time error
    const char* rooted = "IsRootedPath";
    row(rooted, "drive", {"C:\\APP"}, "yes");
    row(rooted, "lower-case drive", {"c:\\app"}, "yes");
    row(rooted, "drive root", {"D:\\"}, "yes");
    row(rooted, "drive without backslash", {"C:APP"}, "no");
    row(rooted, "two characters", {"C:"}, "no");
    row(rooted, "digit as drive", {"1:\\APP"}, "no");
    row(rooted, "share", {"\\\\server\\share"}, "yes");
    row(rooted, "server alone", {"\\\\server"}, "no");
    row(rooted, "three backslashes", {"\\\\\\name"}, "yes");
    row(rooted, "relative", {"APP\\X.TST6"}, "no");
    row(rooted, "root of current drive", {"\\APP"}, "no");
    row(rooted, "empty", {""}, "no");
    row(rooted, "forward slashes", {"C:/APP"}, "no");

    const char* join = "JoinPath";
    row(join, "folder and name", {"C:\\APP", "X.TST6"}, "C:\\APP\\X.TST6");
    row(join, "folder with backslash", {"C:\\APP\\", "X.TST6"}, "C:\\APP\\X.TST6");
    row(join, "nothing", {}, "");
    row(join, "one part loses its backslash", {"C:\\"}, "C:");
    row(join, "empty first part", {"", "A"}, "\\A");
    row(join, "backslash on both sides", {"C:\\A\\", "\\B"}, "C:\\A\\\\B");
    row(join, "empty middle part", {"A", "", "B"}, "A\\\\B");

    const char* remove = "RemoveExtension";
    row(remove, "plain", {"ORDERS.TST6"}, "ORDERS");
    row(remove, "two dots", {"A.B.C"}, "A.B");
    row(remove, "only a leading dot", {".hidden"}, "");
    row(remove, "no dot", {"TSSatchelage"}, "TSSatchelage");
    row(remove, "dot in folder", {"C:\\V1.2\\NAME"}, "C:\\V1");
    row(remove, "blanks trimmed", {"  NAME .TST6"}, "NAME");

    const char* extension = "GetExtension";
    row(extension, "plain", {"C:\\APP\\A.TSD6"}, ".TSD6");
    row(extension, "several dots", {"A.LOGS.TSSDB6"}, ".TSSDB6");
    row(extension, "ends with dot", {"NAME."}, ".");
    row(extension, "dot only in folder", {"C:\\V1.2\\NAME"}, "");
    row(extension, "drive-relative", {"C:NAME"}, "");
    row(extension, "no dot", {"NAME"}, "");
    row(extension, "view file", {"C:\\A\\ORDERS.TVM6.V3"}, ".V3");

    const char* parts = "GetPath, GetFileName";
    row(parts, "template", {"C:\\APP\\ORDERS.TST6"}, "C:\\APP\\ + ORDERS.TST6");
    row(parts, "folder with backslash", {"C:\\APP\\"}, "C:\\APP\\ + ");
    row(parts, "folder without backslash", {"C:\\APP"}, "C:\\ + APP");
    row(parts, "bare name", {"ORDERS.TST6"}, " + ORDERS.TST6");
    row(parts, "drive-relative", {"C:ORDERS.TST6"}, "C: + ORDERS.TST6");

    const char* split = "SplitCommandLine";
    row(split, "unquoted takes all", {"C:\\APP\\ D:\\OUT.ZIP"}, "C:\\APP\\ D:\\OUT.ZIP + ");
    row(split, "unquoted keeps blanks", {" C:\\A "}, " C:\\A  + ");
    row(split, "quoted alone", {"\"C:\\APP\\\""}, "C:\\APP\\ + ");
    row(split, "two quoted", {"\"C:\\APP\\\" \"D:\\OUT.ZIP\""}, "C:\\APP\\ + D:\\OUT.ZIP");
    row(split, "quoted then bare", {"\"C:\\A\\\"   D:\\OUT.ZIP  "}, "C:\\A\\ + D:\\OUT.ZIP");
    row(split, "adjacent quotes", {"\"\""}, " + ");
    row(split, "rest with one quote kept", {"\"A\" \"B"}, "A + \"B");
    row(split, "unclosed quote", {"\"C:\\APP"}, "error 5");
    row(split, "a quote alone", {"\""}, "error 5");
    row(split, "unclosed second quote", {"\"A\" \""}, "error 5");

    const char* relative = "MakeRelativePath";
    row(relative, "below the folder, any case", {"C:\\APP\\BATCH\\PRE.BAT", "c:\\app\\"},
        u"BATCH\\PRE.BAT"_s);
    row(relative, "folder without backslash", {"C:\\APP\\PRE.BAT", "C:\\APP"}, "\\PRE.BAT");
    row(relative, "elsewhere", {"D:\\PRE.BAT", "C:\\APP\\"}, "D:\\PRE.BAT");
    row(relative, "no folder", {"D:\\PRE.BAT", ""}, "D:\\PRE.BAT");

    const char* inList = "StringExistsInArray";
    row(inList, "exact", {"C:\\B.TXT", "", "c:\\a.txt", "C:\\B.TXT"}, "yes");
    row(inList, "case differs", {"C:\\A.TXT", "", "c:\\a.txt", "C:\\B.TXT"}, "no");
    row(inList, "empty list", {"x"}, "no");

    row("AddBackslash", "has one", {"C:\\"}, "C:\\");
    row("AddBackslash", "empty", {""}, "\\");
    row("AddBackslash", "added", {"C:\\A"}, "C:\\A\\");
    row("TrimAtNull", "cut", {u"AB"_s + QChar(u'\0') + u"CD"_s}, "AB");
    row("TrimAtNull", "no null", {"AB"}, "AB");

    // In C:\App: orders.tst6, Stock.TST, notes.txt, .hidden.tst6, .secret, folders X.TST6 and .cache.
    const char* find = "FindFiles";
    const QString all = "|C:\\APP\\.hidden.tst6|C:\\APP\\orders.tst6|C:\\APP\\Stock.TST|C:\\APP\\X.TST6";
    row(find, "templates", {"C:\\APP", "*.TST?"}, all);
    row(find, "templates, folder with backslash", {"C:\\APP\\", "*.TST?"}, all);
    row(find, "one name, any case", {"C:\\APP\\", "ORDERS.TST6"}, "|C:\\APP\\orders.tst6");
    row(find, "everything, with . and ..", {"C:\\APP", "*"},
        "|C:\\APP\\.|C:\\APP\\..|C:\\APP\\.cache|C:\\APP\\.hidden.tst6|C:\\APP\\.secret|C:\\APP\\notes.txt|"
        "C:\\APP\\orders.tst6|C:\\APP\\Stock.TST|C:\\APP\\X.TST6");
    row(find, "no match", {"C:\\APP", "*.ZZZ"}, "");
    row(find, "no folder", {"C:\\NOWHERE", "*.*"}, "");

    const char* exists = "FileExists, FolderExists";
    row(exists, "file, exact case", {"C:\\App\\orders.tst6"}, "yes, no");
    row(exists, "file, upper case", {"C:\\APP\\ORDERS.TST6"}, "yes, no");
    row(exists, "file, lower-case drive", {"c:\\app\\orders.tst6"}, "yes, no");
    row(exists, "folder", {"C:\\APP"}, "yes, yes");
    row(exists, "folder with backslash", {"C:\\APP\\"}, "yes, yes");
    row(exists, "hidden folder", {"C:\\APP\\.CACHE"}, "yes, no");
    row(exists, "hidden folder with backslash", {"C:\\APP\\.CACHE\\"}, "yes, yes");
    row(exists, "hidden file", {"C:\\APP\\.SECRET"}, "yes, no");
    row(exists, "missing", {"C:\\APP\\MISSING.TST6"}, "no, no");
    row(exists, "missing folder on the way", {"C:\\NOPE\\ORDERS.TST6"}, "no, no");
    row(exists, "relative, even though it exists", {"orders.tst6"}, "no, no");
    row(exists, "unmapped drive", {"Q:\\APP"}, "no, no");
    row(exists, "dot-dot resolved by text", {"C:\\APP\\..\\APP\\ORDERS.TST6"}, "yes, no");
    row(exists, "empty", {""}, "no, no");
}

void TestPathHelpers::helper()
{
    QFETCH(QString, helper);
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    TestEnvironment env;
    for (const char* file : {"orders.tst6", "Stock.TST", "notes.txt", ".hidden.tst6", ".secret"})
        env.write(u"c/App/"_s + QLatin1String(file));
    env.makeFolder(u"c/App/X.TST6"_s);
    env.makeFolder(u"c/App/.cache"_s);
    const QString old = QDir::currentPath();
    QDir::setCurrent(env.driveC() + u"/App"_s); // relative paths would find the files here
    QString actual;
    try {
        actual = kHelpers.at(helper)(arguments);
    } catch (const RuntimeError& e) {
        actual = u"error "_s + QString::number(e.number());
    }
    QDir::setCurrent(old);
    QCOMPARE(actual, expected);
}

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "tst_pathhelpers.moc"
