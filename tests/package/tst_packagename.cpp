#include "package/PackageName.h"
#include "package/mDlg.h"
#include "support/FakeLogSink.h"
#include "support/Fakes.h"

#include <QTest>

class TestPackageName : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaultName();
    void chosenNameGetsZip();
    void dialogRecordIsKept();

private:
    const FakeLogInstalled m_log;
};

void TestPackageName::defaultName()
{
    const QDateTime at(QDate(2026, 12, 4), QTime(9, 5, 59));
    const auto name = [&](const char* folder, const char* prefix, const QDateTime& when) {
        return GetDefaultPackageName(QString::fromLatin1(folder), QString::fromLatin1(prefix), when);
    };
    const QString app = QStringLiteral("C:\\APP\\TSSatchelage2026_12_04_0905.zip");
    QCOMPARE(name("C:\\APP", "TSSatchelage", at), app);
    QCOMPARE(name("C:\\APP\\", "TSSatchelage", at), app);
    QCOMPARE(name("C:\\APP\\", " ORDERS.TST6", at), QStringLiteral("C:\\APP\\ORDERS2026_12_04_0905.zip"));
    QCOMPARE(name("", "TSSatchelage", at), QStringLiteral("\\TSSatchelage2026_12_04_0905.zip"));
    QCOMPARE(name("C:\\APP", "T", QDateTime(QDate(2026, 1, 2), QTime(23, 7))),
             QStringLiteral("C:\\APP\\T2026_01_02_2307.zip"));
}

// The chosen name gets ".ZIP" unless it ends in it, in any case; the dialog is told what it shows.
void TestPackageName::chosenNameGetsZip()
{
    FakeSaveDialog dialog;
    const auto chosen = [&](const char* answer) {
        dialog.answer = QString::fromLatin1(answer);
        return GetPackageFileName(dialog, 7, QStringLiteral("C:\\PROGRAM"), QStringLiteral("C:\\APP\\x.zip"));
    };
    QCOMPARE(chosen("C:\\OUT\\pkg"), QStringLiteral("C:\\OUT\\pkg.ZIP"));
    QCOMPARE(chosen("C:\\OUT\\pkg.zip"), QStringLiteral("C:\\OUT\\pkg.zip"));
    QCOMPARE(chosen("C:\\OUT\\pkg.Zip"), QStringLiteral("C:\\OUT\\pkg.Zip"));
    QCOMPARE(chosen("C:\\OUT\\pkg.txt"), QStringLiteral("C:\\OUT\\pkg.txt.ZIP"));
    QCOMPARE(chosen(""), QString()); // cancelled
    const SaveFileRecord& shown = dialog.seen.last();
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
    mDlg::ShowSave(dialog, 1, QStringLiteral("C:\\B.ZIP"), QStringLiteral("T"), QString(),
                   QStringLiteral("a|b"),
                   QString()); // cancelled
    QCOMPARE(dialog.seen.at(1).flags, 0x280007u);
    QCOMPARE(dialog.seen.at(1).file,
             QStringLiteral("C:\\B.ZIP") + QString(2039, QLatin1Char(' ')) + QChar(u'\0'));
}

QTEST_GUILESS_MAIN(TestPackageName)
#include "tst_packagename.moc"
