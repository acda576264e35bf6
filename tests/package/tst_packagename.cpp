#include "package/PackageName.h"
#include "package/mDlg.h"
#include "support/FakeLogSink.h"
#include "support/Fakes.h"

#include <QTest>

using namespace Qt::StringLiterals;

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
    const QString app = u"C:\\APP\\TSSatchelage2026_12_04_0905.zip"_s;
    QCOMPARE(name("C:\\APP", "TSSatchelage", at), app);
    QCOMPARE(name("C:\\APP\\", "TSSatchelage", at), app);
    QCOMPARE(name("C:\\APP\\", " ORDERS.TST6", at), u"C:\\APP\\ORDERS2026_12_04_0905.zip"_s);
    QCOMPARE(name("", "TSSatchelage", at), u"\\TSSatchelage2026_12_04_0905.zip"_s);
    QCOMPARE(name("C:\\APP", "T", QDateTime(QDate(2026, 1, 2), QTime(23, 7))),
             u"C:\\APP\\T2026_01_02_2307.zip"_s);
}

// The chosen name gets ".ZIP" unless it ends in it, in any case; the dialog is told what it shows.
void TestPackageName::chosenNameGetsZip()
{
    FakeSaveDialog dialog;
    const auto chosen = [&](const char* answer) {
        dialog.answer = QString::fromLatin1(answer);
        return GetPackageFileName(dialog, 7, u"C:\\PROGRAM"_s, u"C:\\APP\\x.zip"_s);
    };
    QCOMPARE(chosen("C:\\OUT\\pkg"), u"C:\\OUT\\pkg.ZIP"_s);
    QCOMPARE(chosen("C:\\OUT\\pkg.zip"), u"C:\\OUT\\pkg.zip"_s);
    QCOMPARE(chosen("C:\\OUT\\pkg.Zip"), u"C:\\OUT\\pkg.Zip"_s);
    QCOMPARE(chosen("C:\\OUT\\pkg.txt"), u"C:\\OUT\\pkg.txt.ZIP"_s);
    QCOMPARE(chosen(""), QString()); // cancelled
    const SaveFileRecord& shown = dialog.seen.last();
    QCOMPARE(shown.initialDir, u"C:\\PROGRAM"_s);
    QCOMPARE(shown.owner, WindowHandle(7));
    const QString nul(QChar(u'\0'));
    QCOMPARE(shown.filter, u"Zip File(*.ZIP) "_s + nul + u"*.ZIP"_s + nul + nul);
}

// One record from dialog to dialog: a name cut to the buffer, and the flags a dialog hands back.
void TestPackageName::dialogRecordIsKept()
{
    FakeSaveDialog dialog;
    dialog.answer = u"C:\\A.ZIP"_s;
    dialog.returnedFlags = 0x280006 | 0x1; // the dialog hands back a read-only flag
    const QString longName = QString(3000, u'x');
    const SaveDialogResult first =
        mDlg::ShowSave(dialog, 1, longName, u"T"_s, QString(), u"a|b"_s, QString());
    QVERIFY(!first.cancelled);
    QCOMPARE(first.path, u"C:\\A.ZIP"_s);
    QCOMPARE(dialog.seen.at(0).file, longName.left(2048)); // its NUL overwritten
    QCOMPARE(dialog.seen.at(0).flags, 0x280006u);

    dialog.answer.clear();
    mDlg::ShowSave(dialog, 1, u"C:\\B.ZIP"_s, u"T"_s, QString(), u"a|b"_s,
                   QString()); // cancelled
    QCOMPARE(dialog.seen.at(1).flags, 0x280007u);
    QCOMPARE(dialog.seen.at(1).file, u"C:\\B.ZIP"_s + QString(2039, u' ') + QChar(u'\0'));
}

QTEST_GUILESS_MAIN(TestPackageName)
#include "tst_packagename.moc"
