// The help index reader on real index files: what it finds, what it opens, and why it fails.
#include "components/XmlHelpCatalog.h"
#include "support/TestEnvironment.h"

#include <QTest>

class TestHelpCatalog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsTheIndex_data();
    void readsTheIndex();
};

namespace {

QByteArray index(const char* target)
{
    return QByteArray(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<HelpIndex>\n  <Topic name=\"Release Notes\" "
               "target=\"notes.txt\"/>\n  <Topic name=\"Video Tutorials\" target=\"") +
           target + "\"/>\n</HelpIndex>\n";
}

} // namespace

void TestHelpCatalog::readsTheIndex_data()
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

void TestHelpCatalog::readsTheIndex()
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
    QVERIFY(catalog.SetIndexFile(QStringLiteral("C:\\TESS\\TS6SatchelHelp.xml")));
    QCOMPARE(catalog.Load(), error.isEmpty());
    QVERIFY2(catalog.LastError().contains(error.replace(QStringLiteral("<C>"), env.driveC())),
             qPrintable(catalog.LastError()));
    const std::unique_ptr<IHelpTopic> topic = catalog.FindTopic(QStringLiteral("Video Tutorials"));
    QCOMPARE(topic && topic->Open(), !opened.isEmpty());
    QCOMPARE(handed, opened.isEmpty() ? QStringList()
                                      : QStringList{opened.replace(QStringLiteral("<C>"), env.driveC())});
}

QTEST_GUILESS_MAIN(TestHelpCatalog)
#include "tst_helpcatalog.moc"
