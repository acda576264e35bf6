#include "package/PackageName.h"
#include "package/mDlg.h"
#include "support/FakeLogSink.h"
#include "support/Fakes.h"

#include <QTest>

class TestPackageName : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_log = std::make_unique<FakeLogInstalled>(); }
    void cleanupTestCase() { m_log.reset(); }
    void defaultName_data();
    void defaultName();
    void chosenNameGetsZip_data();
    void chosenNameGetsZip();
    void dialogRecordIsKept();

private:
    std::unique_ptr<FakeLogInstalled> m_log;
};

void TestPackageName::defaultName_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("expected");
    QTest::newRow("folder") << "C:\\APP"
                            << "TSSatchelage"
                            << "C:\\APP\\TSSatchelage2026_12_04_0905.zip";
    QTest::newRow("folder with backslash") << "C:\\APP\\"
                                           << "TSSatchelage"
                                           << "C:\\APP\\TSSatchelage2026_12_04_0905.zip";
    QTest::newRow("template name loses its extension") << "C:\\APP\\"
                                                       << " ORDERS.TST6"
                                                       << "C:\\APP\\ORDERS2026_12_04_0905.zip";
    QTest::newRow("empty folder") << ""
                                  << "TSSatchelage"
                                  << "\\TSSatchelage2026_12_04_0905.zip";
}

void TestPackageName::defaultName()
{
    QFETCH(QString, folder);
    QFETCH(QString, prefix);
    QFETCH(QString, expected);
    const QDateTime at(QDate(2026, 12, 4), QTime(9, 5, 59));
    QCOMPARE(GetDefaultPackageName(folder, prefix, at), expected);
    QCOMPARE(GetDefaultPackageName(folder, prefix, QDateTime(QDate(2026, 1, 2), QTime(23, 7))).right(19),
             QStringLiteral("2026_01_02_2307.zip"));
}

void TestPackageName::chosenNameGetsZip_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no extension") << "C:\\OUT\\pkg"
                                  << "C:\\OUT\\pkg.ZIP";
    QTest::newRow("lower-case zip") << "C:\\OUT\\pkg.zip"
                                    << "C:\\OUT\\pkg.zip";
    QTest::newRow("mixed-case zip") << "C:\\OUT\\pkg.Zip"
                                    << "C:\\OUT\\pkg.Zip";
    QTest::newRow("other extension") << "C:\\OUT\\pkg.txt"
                                     << "C:\\OUT\\pkg.txt.ZIP";
    QTest::newRow("cancelled") << ""
                               << "";
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
    const SaveFileRecord& shown = dialog.seen.at(0);
    QCOMPARE(shown.structSize, 76);
    QCOMPARE(shown.file.size(), 2048);
    QCOMPARE(shown.file, longName.left(2048)); // cut to the buffer, its NUL overwritten
    QCOMPARE(shown.maxFile, 2048);
    QCOMPARE(shown.fileTitle, QString(2048, QLatin1Char(' ')));
    QCOMPARE(shown.flags, 0x280006u);

    dialog.answer.clear();
    const SaveDialogResult second =
        mDlg::ShowSave(dialog, 1, QStringLiteral("C:\\B.ZIP"), QStringLiteral("T"), QString(),
                       QStringLiteral("a|b"), QString());
    QVERIFY(second.cancelled);
    QVERIFY(second.path.isEmpty());
    QCOMPARE(dialog.seen.at(1).flags, 0x280007u); // the flags of the first dialog are used again
    QCOMPARE(dialog.seen.at(1).file.left(9), QStringLiteral("C:\\B.ZIP "));
    QCOMPARE(dialog.seen.at(1).file.at(2047), QChar(u'\0'));
    QCOMPARE(m_log->record->entries.last(),
             QStringLiteral("Legacy.TS6Satchel|LOG: {ModuleName}, {ProcName}, {message}|mComdlg|ShowSave|"));
}

QTEST_GUILESS_MAIN(TestPackageName)
#include "tst_packagename.moc"
