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
    void questionsWithoutAnOpenTemplateFail();
};

void TestTemplateReader::readsEveryValue()
{
    TestEnvironment env;
    TemplateSpec content;
    content.title = QStringLiteral("Order \"Entry\" \\ Ünïcode");
    content.preProcess = QStringLiteral("C:\\TESS\\BATCH\\PRE.BAT");
    content.fields = {{QStringLiteral("A"), QStringLiteral("P"), QStringLiteral("C:\\A.TPT"),
                       QStringLiteral("C:\\IN"), QStringLiteral("C:\\OUT"), QStringLiteral("A.HLP")},
                      {QStringLiteral("B"), QStringLiteral("L"), QString(), QString(), QString(), QString()}};
    content.views = {{QStringLiteral("Summary"), 3}, {QStringLiteral("Text"), QStringLiteral("07")}};
    env.write(QStringLiteral("c/App/orders.tst6"), TemplateToml(content));
    TomlTemplateReader reader;
    reader.Open(QVariant(QStringLiteral("C:\\APP\\ORDERS.TST6")));
    QCOMPARE(reader.Title(), content.title);
    QCOMPARE(reader.PreProcessBatchFile(), content.preProcess);
    QCOMPARE(reader.AuditLogFile(), QString());
    QCOMPARE(reader.FieldCount(), 2);
    QCOMPARE(reader.Field(1).popupFile, QStringLiteral("C:\\A.TPT"));
    QCOMPARE(reader.Field(1).helpFile, QStringLiteral("A.HLP"));
    QCOMPARE(reader.Field(2).kindCode, QStringLiteral("L"));
    reader.LoadViews();
    QCOMPARE(reader.ViewCount(), 2);
    QCOMPARE(reader.View(1).number.toString(), QStringLiteral("3"));
    QCOMPARE(reader.View(2).number.toString(), QStringLiteral("07"));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, reader.Field(3));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, reader.View(0));

    // Missing keys read as the empty text; a minimal template has no fields and no views.
    env.write(QStringLiteral("c/App/min.tst"), "[Template]\n");
    reader.Open(QVariant(QStringLiteral("C:\\APP\\MIN.TST")));
    QCOMPARE(reader.Title(), QString());
    QCOMPARE(reader.FieldCount(), 0);
    QCOMPARE(reader.ViewCount(), 0);
}

void TestTemplateReader::openFailsOnWhatIsNotATemplate_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("not TOML") << QByteArray("this is [not a template");
    QTest::newRow("no Template table") << QByteArray("Title = 'x'\n");
    QTest::newRow("Template is not a table") << QByteArray("Template = 3\n");
    QTest::newRow("Field is not a list of tables") << QByteArray("Field = 'x'\n[Template]\n");
    QTest::newRow("View list holds a number") << QByteArray("View = [1]\n[Template]\n");
    QTest::newRow("not UTF-8") << QByteArray("[Template]\nTitle = \"\xff\xfe\"\n");
    QTest::newRow("empty") << QByteArray();
}

void TestTemplateReader::openFailsOnWhatIsNotATemplate()
{
    TestEnvironment env;
    QFETCH(QByteArray, content);
    env.write(QStringLiteral("c/App/bad.tst6"), content);
    env.makeFolder(QStringLiteral("c/App/X.TST6"));
    TomlTemplateReader reader;
    for (const char* path :
         {"C:\\APP\\BAD.TST6", "C:\\APP\\X.TST6", "C:\\APP\\MISSING.TST6", "Q:\\NO.TST6"}) {
        try {
            reader.Open(QVariant(QString::fromLatin1(path)));
            QFAIL(path);
        } catch (const RuntimeError& e) {
            QVERIFY(!e.description().isEmpty());
            QCOMPARE(e.source(), QStringLiteral("TemplateReader"));
        }
    }
}

void TestTemplateReader::questionsWithoutAnOpenTemplateFail()
{
    TomlTemplateReader reader;
    QVERIFY_THROWS_EXCEPTION(RuntimeError, reader.Title());
    reader.OpenText("[Template]\nTitle = 'T'\n", QStringLiteral("t"));
    QCOMPARE(reader.Title(), QStringLiteral("T"));
    reader.Close();
    QVERIFY_THROWS_EXCEPTION(RuntimeError, reader.FieldCount());
}

QTEST_GUILESS_MAIN(TestTemplateReader)
#include "tst_templatereader.moc"
