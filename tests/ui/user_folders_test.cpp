// SPDX-License-Identifier: GPL-3.0-or-later
// Where an installed station keeps its files, and Qt's own texts in Russian.

#include "app/user_folders.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QTest>

class UserFoldersTest : public QObject {
    Q_OBJECT
  private slots:
    void recordFolderAtStart_data();
    void recordFolderAtStart();
    void calibrationFile();
    void qtTextsInRussian();
};

void UserFoldersTest::recordFolderAtStart_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("expected");
    const QString docs = QStringLiteral("/home/op/Documents");
    QTest::newRow("build folder") << "/src/build/app" << true << false << "/src/build/app/";
    QTest::newRow("build folder with separator")
        << "/src/build/app/" << true << false << "/src/build/app/";
    QTest::newRow("read-only folder") << "/opt/zta" << false << false << docs + "/ZTA-K7/";
    // Root may write into /usr/bin; the records still belong in the documents folder.
    QTest::newRow("installed, run by root") << "/usr/bin" << true << true << docs + "/ZTA-K7/";
    QTest::newRow("installed") << "/usr/bin" << false << true << docs + "/ZTA-K7/";
}

void UserFoldersTest::recordFolderAtStart() {
    QFETCH(QString, program);
    QFETCH(bool, writable);
    QFETCH(bool, installed);
    QFETCH(QString, expected);
    const QString folder = zta::startRecordFolder({program, writable, installed},
                                                  QStringLiteral("/home/op/Documents"));
    QCOMPARE(folder, QDir::toNativeSeparators(expected));
}

void UserFoldersTest::calibrationFile() {
    QCOMPARE(zta::calibrationFilePath(true, QStringLiteral("/home/op/.config")),
             QStringLiteral("CalDataK7.cfg"));
    QCOMPARE(zta::calibrationFilePath(false, QStringLiteral("/home/op/.config")),
             QStringLiteral("/home/op/.config/ZTA-K7/CalDataK7.cfg"));
}

void UserFoldersTest::qtTextsInRussian() {
    QVERIFY2(zta::loadQtRussian(), "Qt's Russian translation (qt6-translations-l10n) not found");
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Отмена"));
}

QTEST_MAIN(UserFoldersTest)
#include "user_folders_test.moc"
