#include "base/RuntimeError.h"
#include "components/TomlTemplateReader.h"
#include "components/XmlHelpCatalog.h"
#include "support/Installation.h"
#include "support/TestEnvironment.h"

#include <QTest>

class TestTemplateReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsEveryValue();
    void openFailsOnWhatIsNotATemplate_data();
    void openFailsOnWhatIsNotATemplate();
    void readsTheIndex_data();
    void readsTheIndex();
};

// Escapes in the text, and a view number in quotes kept as its text; questions past the last field
// or view, or with no template open, fail.
void TestTemplateReader::readsEveryValue()
{
    TemplateSpec content;
    content.title = QStringLiteral("Order \"Entry\" \\ Ünïcode");
    content.fields = {{QStringLiteral("A"), QStringLiteral("P"), {}, {}, {}, QStringLiteral("A.HLP")}};
    content.views = {{QStringLiteral("Summary"), 3}, {QStringLiteral("Text"), QStringLiteral("07")}};
    TomlTemplateReader reader;
    QVERIFY_THROWS_EXCEPTION(RuntimeError, reader.Title());
    reader.openText(templateToml(content), QStringLiteral("orders"));
    QCOMPARE(reader.Title(), content.title);
    QCOMPARE(reader.field(1).helpFile, QStringLiteral("A.HLP"));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, reader.field(2));
    reader.LoadViews();
    QCOMPARE(reader.view(2).number.toString(), QStringLiteral("07"));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, reader.view(0));

    // Missing keys read as the empty text; a minimal template has no fields and no views.
    reader.openText("[Template]\n", QStringLiteral("minimal"));
    QCOMPARE(reader.Title(), QString());
    QCOMPARE(reader.fieldCount() + reader.viewCount(), 0);
    reader.Close();
    QVERIFY_THROWS_EXCEPTION(RuntimeError, reader.fieldCount());
}

void TestTemplateReader::openFailsOnWhatIsNotATemplate_data()
{
    QTest::addColumn<QByteArray>("content"); // of C:\APP\BAD.TST6
    QTest::addColumn<QString>("path");
    const auto row = [](const char* name, const QByteArray& content, const char* path = "C:\\APP\\BAD.TST6") {
        QTest::newRow(name) << content << QString::fromLatin1(path);
    };
    row("no Template table", "Title = 'x'\n");
    row("Template is not a table", "Template = 3\n");
    row("Field is not a list of tables", "Field = 'x'\n[Template]\n");
    row("View list holds a number", "View = [1]\n[Template]\n");
    row("not UTF-8", "[Template]\nTitle = \"\xff\xfe\"\n");
    row("empty", "");
    row("missing", "[Template]\n", "C:\\APP\\MISSING.TST6");
    row("on no drive", "[Template]\n", "Q:\\NO.TST6");
}

void TestTemplateReader::openFailsOnWhatIsNotATemplate()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, path);
    TestEnvironment env;
    env.write(QStringLiteral("c/App/bad.tst6"), content);
    try {
        TomlTemplateReader().Open(QVariant(path));
        QFAIL("opened");
    } catch (const RuntimeError& e) {
        QVERIFY(!e.description().isEmpty());
        QCOMPARE(e.source(), QStringLiteral("TemplateReader"));
    }
}

namespace {

QByteArray index(const char* target)
{
    return QByteArray(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<HelpIndex>\n  <Topic name=\"Release Notes\" "
               "target=\"notes.txt\"/>\n  <Topic name=\"Video Tutorials\" target=\"") +
           target + "\"/>\n</HelpIndex>\n";
}

} // namespace

void TestTemplateReader::readsTheIndex_data()
{
    QTest::addColumn<QByteArray>("content"); // null: there is no index file
    QTest::addColumn<QString>("opened");     // what "Video Tutorials" opens; empty when it is not found
    QTest::addColumn<QString>("error");      // in the reason for a failure, empty if none; <C> is drive C
    const auto row = [](const char* name, const QByteArray& content, const char* opened, const char* error) {
        QTest::newRow(name) << content << QString::fromUtf8(opened) << QString::fromUtf8(error);
    };
    row("URL target", index("https://videos.norvale.example/ts6?a=1&amp;b=2"),
        "https://videos.norvale.example/ts6?a=1&b=2", "");
    row("relative file target, found case-blind", index("videos\\INTRO.html"), "<C>/Tess/Videos/intro.html",
        "");
    row("unknown topic", "<HelpIndex><Topic name=\"Other\" target=\"x\"/></HelpIndex>", "", "");
    row("comment and blanks after the index", index("https://v.example/") + "<!-- end -->\n\n",
        "https://v.example/", "");
    row("malformed", "<HelpIndex><Topic name=\"Video Tutorials\" target=\"x\">", "",
        "The help index <C>/Tess/TS6SatchelHelp.xml is not readable: ");
    row("not a help index", "<Index/>", "", "is not readable: the document is not a HelpIndex");
    row("missing", QByteArray(), "", "The help index is missing: <C>/TESS/TS6SatchelHelp.xml");
}

void TestTemplateReader::readsTheIndex()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, opened);
    QFETCH(QString, error);
    TestEnvironment env;
    env.write(QStringLiteral("c/Tess/Videos/intro.html"));
    if (!content.isNull())
        env.write(QStringLiteral("c/Tess/TS6SatchelHelp.xml"), content);
    QStringList handed;
    XmlHelpCatalog catalog([&](const QString& target) {
        handed.append(target);
        return true;
    });
    QVERIFY(catalog.setIndexFile(QStringLiteral("C:\\TESS\\TS6SatchelHelp.xml")));
    QCOMPARE(catalog.load(), error.isEmpty());
    QVERIFY2(catalog.lastError().contains(error.replace(QStringLiteral("<C>"), env.driveC())),
             qPrintable(catalog.lastError()));
    const std::unique_ptr<IHelpTopic> topic = catalog.findTopic(QStringLiteral("Video Tutorials"));
    QCOMPARE(topic && topic->Open(), !opened.isEmpty());
    QCOMPARE(handed, opened.isEmpty() ? QStringList()
                                      : QStringList{opened.replace(QStringLiteral("<C>"), env.driveC())});
}

QTEST_GUILESS_MAIN(TestTemplateReader)
#include "tst_templatereader.moc"
