#include "package/PackageName.h"
#include "package/mDlg.h"
#include "support/FakeLogSink.h"
#include "support/Fakes.h"

#include <QTest>

class TestPackageName : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaultName_data();
    void defaultName();
    void chosenNameGetsZip_data();
    void chosenNameGetsZip();
    void dialogRecordIsKept();

private:
    const FakeLogInstalled m_log;
};

void TestPackageName::defaultName_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QDateTime>("at");
    QTest::addColumn<QString>("expected");
    const QDateTime at(QDate(2026, 12, 4), QTime(9, 5, 59));
    const auto row = [](const char* name, const QString& folder, const QString& prefix, const QDateTime& at,
                        const QString& expected) {
        QTest::newRow(name) << folder << prefix << at << expected;
    };
    row("folder", "C:\\APP", "TSSatchelage", at, "C:\\APP\\TSSatchelage2026_12_04_0905.zip");
    row("folder with backslash", "C:\\APP\\", "TSSatchelage", at, "C:\\APP\\TSSatchelage2026_12_04_0905.zip");
    row("template name loses its extension", "C:\\APP\\", " ORDERS.TST6", at,
        "C:\\APP\\ORDERS2026_12_04_0905.zip");
    row("empty folder", "", "TSSatchelage", at, "\\TSSatchelage2026_12_04_0905.zip");
    row("24-hour clock", "C:\\APP", "T", QDateTime(QDate(2026, 1, 2), QTime(23, 7)),
        "C:\\APP\\T2026_01_02_2307.zip");
}

void TestPackageName::defaultName()
{
    QFETCH(QString, folder);
    QFETCH(QString, prefix);
    QFETCH(QDateTime, at);
    QFETCH(QString, expected);
    QCOMPARE(GetDefaultPackageName(folder, prefix, at), expected);
}

void TestPackageName::chosenNameGetsZip_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const QString& chosen, const QString& expected) {
        QTest::newRow(name) << chosen << expected;
    };
    row("no extension", "C:\\OUT\\pkg", "C:\\OUT\\pkg.ZIP");
    row("lower-case zip", "C:\\OUT\\pkg.zip", "C:\\OUT\\pkg.zip");
    row("mixed-case zip", "C:\\OUT\\pkg.Zip", "C:\\OUT\\pkg.Zip");
    row("other extension", "C:\\OUT\\pkg.txt", "C:\\OUT\\pkg.txt.ZIP");
    row("cancelled", "", "");
}

void TestPackageName::chosenNameGetsZip()
{
    QFETCH(QString, chosen);
    QFETCH(QString, expected);
    FakeSaveDialog dialog;
    dialog.answer = chosen;
    QCOMPARE(GetPackageFileName(dialog, 7, QStringLiteral("C:\\PROGRAM"), QStringLiteral("C:\\APP\\x.zip")),
             expected);
    const SaveFileRecord& shown = dialog.seen.first();
    QCOMPARE(shown.title, QStringLiteral("Save Tessarine Package File As..."));
    QCOMPARE(shown.initialDir, QStringLiteral("C:\\PROGRAM"));
    QCOMPARE(shown.owner, WindowHandle(7));
    const QString nul(QChar(u'\0'));
    QCOMPARE(shown.filter, QStringLiteral("Zip File(*.ZIP) ") + nul + QStringLiteral("*.ZIP") + nul + nul);
}

// One record from dialog to dialog: a name cut to the buffer, and the flags a dialog hands back.
void TestPackageName::dialogRecordIsKept()
{
    FakeSaveDialog dialog;
    dialog.answer = QStringLiteral("C:\\A.ZIP");
    dialog.returnedFlags = 0x280006 | 0x1; // the dialog hands back a read-only flag
    const QString longName = QString(3000, QLatin1Char('x'));
    const SaveDialogResult first =
        mDlg::ShowSave(dialog, 1, longName, QStringLiteral("T"), QString(), QStringLiteral("a|b"), QString());
    QVERIFY(!first.cancelled);
    QCOMPARE(first.path, QStringLiteral("C:\\A.ZIP"));
    QCOMPARE(dialog.seen.at(0).file, longName.left(2048)); // its NUL overwritten
    QCOMPARE(dialog.seen.at(0).flags, 0x280006u);

    dialog.answer.clear();
    const SaveDialogResult second =
        mDlg::ShowSave(dialog, 1, QStringLiteral("C:\\B.ZIP"), QStringLiteral("T"), QString(),
                       QStringLiteral("a|b"), QString());
    QVERIFY(second.cancelled && second.path.isEmpty());
    QCOMPARE(dialog.seen.at(1).flags, 0x280007u);
    QCOMPARE(dialog.seen.at(1).file,
             QStringLiteral("C:\\B.ZIP") + QString(2039, QLatin1Char(' ')) + QChar(u'\0'));
}

QTEST_GUILESS_MAIN(TestPackageName)
#include "tst_packagename.moc"
