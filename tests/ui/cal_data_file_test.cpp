// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cal_data_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace zta;

namespace {

QByteArray real(double v) {
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    QByteArray out(8, '\0');
    qToLittleEndian(bits, out.data());
    return out;
}

QByteArray U16(quint16 v) {
    QByteArray out(2, '\0');
    qToLittleEndian(v, out.data());
    return out;
}

QByteArray U32(quint32 v) {
    QByteArray out(4, '\0');
    qToLittleEndian(v, out.data());
    return out;
}

QByteArray U64(quint64 v) {
    QByteArray out(8, '\0');
    qToLittleEndian(v, out.data());
    return out;
}

// "Метан" in Windows-1251.
const QByteArray kMethane = QByteArray::fromHex("cce5f2e0ed");

QByteArray narrow(const QByteArray& cp1251, double maxGas, double midGas) {
    return char(cp1251.size()) + cp1251 + real(maxGas) + real(midGas);
}

QByteArray utf16(const QString& s) {
    QByteArray out;
    for (QChar c : s) out += U16(c.unicode());
    return out;
}

int markedMenuId(const CalData& d) {
    int id = 0;
    for (int i = 0; i < kCalGasCount; ++i) {
        if (d.gasMarks[i]) {
            if (id != 0) return -1;  // more than one mark
            id = kCalGasMenu[i].menuId;
        }
    }
    return id;
}

bool isDefault(const CalData& d) {
    return d.calGasName == QStringLiteral("Метан") && d.maxGas == 4.4 && d.midGas == 2.7 &&
           markedMenuId(d) == 0;
}

}  // namespace

class CalDataFileTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString pathWith(const QByteArray& bytes) {
        const QString path = dir_.filePath(kCalDataFileName);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write fixture");
        f.write(bytes);
        return path;
    }

    // A reader must never leave values of an earlier file behind.
    static CalData dirty() {
        CalData d;
        d.calGasName = QStringLiteral("xx");
        d.maxGas = 9;
        d.midGas = 9;
        d.gasMarks.fill(true);
        return d;
    }

  private slots:
    void defaultsWriteTheTwentyTwoByteFile() {
        const QString path = dir_.filePath(kCalDataFileName);
        QVERIFY(writeCalDataFile(path, CalData{}));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QCOMPARE(bytes.size(), 22);
        QCOMPARE(bytes, narrow(kMethane, 4.4, 2.7));

        CalData back = dirty();
        QCOMPARE(readCalDataFile(path, back).status, CalReadStatus::Loaded);
        QCOMPARE(back.calGasName, QStringLiteral("Метан"));
        QCOMPARE(back.maxGas, 4.4);
        QCOMPARE(back.midGas, 2.7);
        QCOMPARE(markedMenuId(back), 145);
        // No temporary left next to it.
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void missingFileKeepsDefaultsWithoutMarks() {
        CalData d = dirty();
        const CalReadResult r = readCalDataFile(dir_.filePath("absent.cfg"), d);
        QCOMPARE(r.status, CalReadStatus::Missing);
        QVERIFY(r.warning.isEmpty());
        QVERIFY(isDefault(d));
    }

    void namesAndMarks_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("maxGas");
        QTest::addColumn<int>("markedId");

        const QByteArray propane = QByteArray::fromHex("cff0eeefe0ed");
        QTest::newRow("propane") << narrow(propane, 0.5, 0.25) << QStringLiteral("Пропан") << 0.5
                                 << 146;
        QTest::newRow("trailing blank")
            << narrow(kMethane + ' ', 4.4, 2.7) << QStringLiteral("Метан ") << 4.4 << 0;
        QTest::newRow("foreign name")
            << narrow("CH4", 3.0, 1.0) << QStringLiteral("CH4") << 3.0 << 0;
        const QString butane = QStringLiteral("Бутан");
        QTest::newRow("wide butane") << QByteArray("\xff") + U16(0xFFFE) + char(butane.size()) +
                                            utf16(butane) + real(0.7) + real(0.35)
                                     << butane << 0.7 << 32794;
        QTest::newRow("wide, 16-bit count")
            << QByteArray("\xff") + U16(0xFFFE) + QByteArray("\xff") + U16(5) + utf16(butane) +
                   real(0.7) + real(0.35)
            << butane << 0.7 << 32794;
        QTest::newRow("narrow, 16-bit count")
            << QByteArray("\xff") + U16(5) + kMethane + real(4.4) + real(2.7)
            << QStringLiteral("Метан") << 4.4 << 145;
        QTest::newRow("narrow, 64-bit count")
            << QByteArray("\xff") + U16(0xFFFF) + U32(0xFFFFFFFF) + U64(5) + kMethane + real(4.4) +
                   real(2.7)
            << QStringLiteral("Метан") << 4.4 << 145;
        QTest::newRow("bytes after the doubles are ignored")
            << narrow(propane, 1.7, 0.8) + "junk" << QStringLiteral("Пропан") << 1.7 << 146;
    }

    void namesAndMarks() {
        QFETCH(QByteArray, file);
        QFETCH(QString, name);
        QFETCH(double, maxGas);
        QFETCH(int, markedId);
        CalData d = dirty();
        const CalReadResult r = readCalDataFile(pathWith(file), d);
        QCOMPARE(r.status, CalReadStatus::Loaded);
        QCOMPARE(d.calGasName, name);
        QCOMPARE(d.maxGas, maxGas);
        QCOMPARE(markedMenuId(d), markedId);
    }

    void malformedFileFallsBackToDefaultsWithWarning_data() {
        QTest::addColumn<QByteArray>("file");
        const QByteArray good = narrow(kMethane, 4.4, 2.7);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("21 bytes") << good.left(21);
        QTest::newRow("name shorter than its prefix") << QByteArray("\x09") + kMethane;
        QTest::newRow("no room for the doubles") << good.left(6) + real(4.4);
        QTest::newRow("prefix larger than the file")
            << QByteArray("\xff") + U16(0xFFFF) + U32(0xFFFFFFFE) + real(1) + real(2);
        QTest::newRow("wide prefix of 2^31-1 characters")
            << QByteArray("\xff") + U16(0xFFFE) + QByteArray("\xff") + U16(0xFFFF) +
                   U32(0xFFFFFFFF) + U64(2147483647) + real(1) + real(2);
        QTest::newRow("64-bit length above 2147483647")
            << QByteArray("\xff") + U16(0xFFFF) + U32(0xFFFFFFFF) + U64(2147483648ull) + real(1) +
                   real(2);
        QTest::newRow("not a number") << narrow(kMethane, std::nan(""), 2.7);
    }

    void malformedFileFallsBackToDefaultsWithWarning() {
        QFETCH(QByteArray, file);
        CalData d = dirty();
        const CalReadResult r = readCalDataFile(pathWith(file), d);
        QCOMPARE(r.status, CalReadStatus::Malformed);
        QVERIFY(r.warning.contains(QLatin1String(kCalDataFileName)));
        QVERIFY(isDefault(d));
    }

    void longNamesUseTheWiderPrefixes_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<QByteArray>("prefix");
        QTest::newRow("254") << 254 << QByteArray("\xfe");
        QTest::newRow("255") << 255 << QByteArray("\xff") + U16(255);
        QTest::newRow("65533") << 65533 << QByteArray("\xff") + U16(65533);
        QTest::newRow("65534") << 65534 << QByteArray("\xff") + U16(0xFFFF) + U32(65534);
    }

    void longNamesUseTheWiderPrefixes() {
        QFETCH(int, length);
        QFETCH(QByteArray, prefix);
        CalData d;
        d.calGasName = QString(length, QLatin1Char('a'));
        const QByteArray bytes = encodeCalData(d);
        QCOMPARE(bytes.left(prefix.size()), prefix);
        QCOMPARE(bytes.size(), prefix.size() + length + 16);
        CalData back;
        QCOMPARE(readCalDataFile(pathWith(bytes), back).status, CalReadStatus::Loaded);
        QCOMPARE(back.calGasName, d.calGasName);
    }

    // read, saved and read again, a narrow file comes back byte for byte: every name byte,
    // 0x98 (no character in Windows-1251) and a zero byte included, and the doubles' bits.
    void savedAgainByteForByte_data() {
        QTest::addColumn<QByteArray>("file");
        QByteArray every;
        for (int b = 0; b < 256; ++b) every += char(b);
        QTest::newRow("0x98 alone") << narrow("\x98", 4.4, 2.7);
        QTest::newRow("0x98 in a name") << narrow(kMethane + "\x98" + kMethane + "\x98", 1, 0.5);
        QTest::newRow("every byte")
            << QByteArray("\xff") + U16(256) + every + real(-0.0) + real(1e-300);
    }

    void savedAgainByteForByte() {
        QFETCH(QByteArray, file);
        CalData d = dirty();
        QCOMPARE(readCalDataFile(pathWith(file), d).status, CalReadStatus::Loaded);
        QVERIFY(writeCalDataFile(dir_.filePath(kCalDataFileName), d));
        QFile f(dir_.filePath(kCalDataFileName));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll().toHex(' '), file.toHex(' '));
    }

    void unwritableFolderFailsAndKeepsTheOldFile() {
        QTemporaryDir folder;
        const QString path = folder.filePath(kCalDataFileName);
        CalData old;
        old.calGasName = QStringLiteral("Пропан");
        QVERIFY(writeCalDataFile(path, old));

        CalData changed;
        changed.maxGas = 1.0;
        QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner);
        bool refused = true;
#ifndef _WIN32
        refused = geteuid() != 0;  // root writes into read-only folders anyway
#endif
        if (refused) {
            QString error;
            QVERIFY(!writeCalDataFile(path, changed, &error));
            QVERIFY(!error.isEmpty());
            CalData back;
            QCOMPARE(readCalDataFile(path, back).status, CalReadStatus::Loaded);
            QCOMPARE(back.calGasName, QStringLiteral("Пропан"));
        }
        QFile::setPermissions(folder.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // A folder that cannot exist stops even root.
        QString error;
        QVERIFY(!writeCalDataFile(path + QStringLiteral("/") + kCalDataFileName, changed, &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(CalDataFileTest)
#include "cal_data_file_test.moc"
