#include "base/RuntimeError.h"
#include "components/TomlTemplateReader.h"
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
    reader.OpenText(TemplateToml(content), QStringLiteral("orders"));
    QCOMPARE(reader.Title(), content.title);
    QCOMPARE(reader.Field(1).helpFile, QStringLiteral("A.HLP"));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, reader.Field(2));
    reader.LoadViews();
    QCOMPARE(reader.View(2).number.toString(), QStringLiteral("07"));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, reader.View(0));

    // Missing keys read as the empty text; a minimal template has no fields and no views.
    reader.OpenText("[Template]\n", QStringLiteral("minimal"));
    QCOMPARE(reader.Title(), QString());
    QCOMPARE(reader.FieldCount() + reader.ViewCount(), 0);
    reader.Close();
    QVERIFY_THROWS_EXCEPTION(RuntimeError, reader.FieldCount());
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

QTEST_GUILESS_MAIN(TestTemplateReader)
#include "tst_templatereader.moc"
