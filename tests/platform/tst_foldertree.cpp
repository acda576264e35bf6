#include "platform/HostName.h"
#include "platform/qt/QtFolderTree.h"
#include "support/TestEnvironment.h"

#include <QTest>

#include <sys/stat.h>

// The folder tree on real folders whose names are not all UTF-8, as a Windows copy holds them.
using namespace Qt::StringLiterals;

class TestFolderTree : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyFolderNameIsShownAndSelectable_data();
    void everyFolderNameIsShownAndSelectable();
};

void TestFolderTree::everyFolderNameIsShownAndSelectable_data()
{
    QTest::addColumn<QByteArray>("name"); // the folder's name on disk, in bytes
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("listed"); // the subfolders shown when the parent is opened
    QTest::newRow("UTF-8") << QByteArray("Überwachung") << u"Überwachung"_s << u"Other Überwachung"_s;
    QTest::newRow("cp1252") << QByteArray("caf\xe9") << u"caf\uFFFD"_s << u"caf\uFFFD Other"_s;
    QTest::newRow("hidden: shown once asked for") << QByteArray(".cache") << u".cache"_s << u"Other"_s;
}

void TestFolderTree::everyFolderNameIsShownAndSelectable()
{
    TestEnvironment env;
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    const QString hostName = HostName::Decode(name.constData(), name.size());
    const QByteArray onDisk = QFile::encodeName(env.makeFolder(u"c/App"_s)) + '/' + name;
    QCOMPARE(mkdir(onDisk.constData(), 0700), 0);
    QCOMPARE(mkdir((onDisk + "/Orders").constData(), 0700), 0);
    env.makeFolder(u"c/App/Other"_s);
    QFETCH(QString, listed);
    QtFolderTree tree;
    QString selected;
    tree.SetAfterSelectHandler([&] { selected = tree.SelectedFolderPath(); });
    tree.SelectFolder(u"C:\\APP\\OTHER"_s, 0, true);
    const QModelIndex app = tree.currentIndex().parent();
    QStringList names;
    for (int row = 0; row < tree.model()->rowCount(app); ++row)
        names.append(tree.model()->index(row, 0, app).data().toString());
    QCOMPARE(names.join(u' '), listed);

    tree.SelectFolder(u"C:\\APP\\"_s + hostName + u"\\ORDERS"_s, 0, true);
    QCOMPARE(selected, u"C:\\App\\"_s + hostName + u"\\Orders"_s);
    const QModelIndex folder = tree.currentIndex().parent();
    QCOMPARE(folder.data().toString(), shown);

    // A person choosing it in the tree gets the same byte-exact path.
    selected.clear();
    tree.setCurrentIndex(folder.parent());
    tree.setCurrentIndex(folder);
    QCOMPARE(selected, u"C:\\App\\"_s + hostName);
}

QTEST_MAIN(TestFolderTree)
#include "tst_foldertree.moc"
