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

QByteArray Real(double v) {
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

QByteArray Narrow(const QByteArray& cp1251, double maxGas, double midGas) {
    return char(cp1251.size()) + cp1251 + Real(maxGas) + Real(midGas);
}

QByteArray Utf16(const QString& s) {
    QByteArray out;
    for (QChar c : s) out += U16(c.unicode());
    return out;
}

int MarkedMenuId(const CalData& d) {
    int id = 0;
    for (int i = 0; i < kCalGasCount; ++i) {
        if (d.gasMarks[i]) {
            if (id != 0) return -1;  // more than one mark
            id = kCalGasMenu[i].menuId;
        }
    }
    return id;
}

bool IsDefault(const CalData& d) {
    return d.calGasName == QStringLiteral("Метан") && d.maxGas == 4.4 && d.midGas == 2.7 &&
           MarkedMenuId(d) == 0;
}

}  // namespace

class CalDataFileTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString PathWith(const QByteArray& bytes) {
        const QString path = dir_.filePath(kCalDataFileName);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write fixture");
        f.write(bytes);
        return path;
    }

    // A reader must never leave values of an earlier file behind.
    static CalData Dirty() {
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
        QVERIFY(WriteCalDataFile(path, CalData{}));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QCOMPARE(bytes.size(), 22);
        QCOMPARE(bytes, Narrow(kMethane, 4.4, 2.7));

        CalData back = Dirty();
        QCOMPARE(ReadCalDataFile(path, back).status, CalReadStatus::Loaded);
        QCOMPARE(back.calGasName, QStringLiteral("Метан"));
        QCOMPARE(back.maxGas, 4.4);
        QCOMPARE(back.midGas, 2.7);
        QCOMPARE(MarkedMenuId(back), 145);
        // No temporary left next to it.
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void missingFileKeepsDefaultsWithoutMarks() {
        CalData d = Dirty();
        const CalReadResult r = ReadCalDataFile(dir_.filePath("absent.cfg"), d);
        QCOMPARE(r.status, CalReadStatus::Missing);
        QVERIFY(r.warning.isEmpty());
        QVERIFY(IsDefault(d));
    }

    void namesAndMarks_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("maxGas");
        QTest::addColumn<int>("markedId");

        const QByteArray propane = QByteArray::fromHex("cff0eeefe0ed");
        QTest::newRow("propane") << Narrow(propane, 0.5, 0.25) << QStringLiteral("Пропан") << 0.5
                                 << 146;
        QTest::newRow("trailing blank") << Narrow(kMethane + ' ', 4.4, 2.7)
                                        << QStringLiteral("Метан ") << 4.4 << 0;
        QTest::newRow("foreign name") << Narrow("CH4", 3.0, 1.0) << QStringLiteral("CH4") << 3.0
                                      << 0;
        const QString butane = QStringLiteral("Бутан");
        QTest::newRow("wide butane")
            << QByteArray("\xff") + U16(0xFFFE) + char(butane.size()) + Utf16(butane) +
                   Real(0.7) + Real(0.35)
            << butane << 0.7 << 32794;
        QTest::newRow("wide, 16-bit count")
            << QByteArray("\xff") + U16(0xFFFE) + QByteArray("\xff") + U16(5) + Utf16(butane) +
                   Real(0.7) + Real(0.35)
            << butane << 0.7 << 32794;
        QTest::newRow("narrow, 16-bit count")
            << QByteArray("\xff") + U16(5) + kMethane + Real(4.4) + Real(2.7)
            << QStringLiteral("Метан") << 4.4 << 145;
        QTest::newRow("narrow, 64-bit count")
            << QByteArray("\xff") + U16(0xFFFF) + U32(0xFFFFFFFF) + U64(5) + kMethane +
                   Real(4.4) + Real(2.7)
            << QStringLiteral("Метан") << 4.4 << 145;
        QTest::newRow("bytes after the doubles are ignored")
            << Narrow(propane, 1.7, 0.8) + "junk" << QStringLiteral("Пропан") << 1.7 << 146;
    }

    void namesAndMarks() {
        QFETCH(QByteArray, file);
        QFETCH(QString, name);
        QFETCH(double, maxGas);
        QFETCH(int, markedId);
        CalData d = Dirty();
        const CalReadResult r = ReadCalDataFile(PathWith(file), d);
        QCOMPARE(r.status, CalReadStatus::Loaded);
        QCOMPARE(d.calGasName, name);
        QCOMPARE(d.maxGas, maxGas);
        QCOMPARE(MarkedMenuId(d), markedId);
    }

    void malformedFileFallsBackToDefaultsWithWarning_data() {
        QTest::addColumn<QByteArray>("file");
        const QByteArray good = Narrow(kMethane, 4.4, 2.7);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("21 bytes") << good.left(21);
        QTest::newRow("name shorter than its prefix") << QByteArray("\x09") + kMethane;
        QTest::newRow("no room for the doubles") << good.left(6) + Real(4.4);
        QTest::newRow("prefix larger than the file")
            << QByteArray("\xff") + U16(0xFFFF) + U32(0xFFFFFFFE) + Real(1) + Real(2);
        QTest::newRow("wide prefix of 2^31-1 characters")
            << QByteArray("\xff") + U16(0xFFFE) + QByteArray("\xff") + U16(0xFFFF) +
                   U32(0xFFFFFFFF) + U64(2147483647) + Real(1) + Real(2);
        QTest::newRow("64-bit length above 2147483647")
            << QByteArray("\xff") + U16(0xFFFF) + U32(0xFFFFFFFF) + U64(2147483648ull) + Real(1) +
                   Real(2);
        QTest::newRow("not a number") << Narrow(kMethane, std::nan(""), 2.7);
    }

    void malformedFileFallsBackToDefaultsWithWarning() {
        QFETCH(QByteArray, file);
        CalData d = Dirty();
        const CalReadResult r = ReadCalDataFile(PathWith(file), d);
        QCOMPARE(r.status, CalReadStatus::Malformed);
        QVERIFY(r.warning.contains(QLatin1String(kCalDataFileName)));
        QVERIFY(IsDefault(d));
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
        const QByteArray bytes = EncodeCalData(d);
        QCOMPARE(bytes.left(prefix.size()), prefix);
        QCOMPARE(bytes.size(), prefix.size() + length + 16);
        CalData back;
        QCOMPARE(ReadCalDataFile(PathWith(bytes), back).status, CalReadStatus::Loaded);
        QCOMPARE(back.calGasName, d.calGasName);
    }

    // Read, saved and read again, a narrow file comes back byte for byte: every name byte,
    // 0x98 (no character in Windows-1251) and a zero byte included, and the doubles' bits.
    void savedAgainByteForByte_data() {
        QTest::addColumn<QByteArray>("file");
        QByteArray every;
        for (int b = 0; b < 256; ++b) every += char(b);
        QTest::newRow("0x98 alone") << Narrow("\x98", 4.4, 2.7);
        QTest::newRow("0x98 in a name") << Narrow(kMethane + "\x98" + kMethane + "\x98", 1, 0.5);
        QTest::newRow("every byte") << QByteArray("\xff") + U16(256) + every + Real(-0.0) + Real(1e-300);
    }

    void savedAgainByteForByte() {
        QFETCH(QByteArray, file);
        CalData d = Dirty();
        QCOMPARE(ReadCalDataFile(PathWith(file), d).status, CalReadStatus::Loaded);
        QVERIFY(WriteCalDataFile(dir_.filePath(kCalDataFileName), d));
        QFile f(dir_.filePath(kCalDataFileName));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll().toHex(' '), file.toHex(' '));
    }

    void unwritableFolderFailsAndKeepsTheOldFile() {
        QTemporaryDir folder;
        const QString path = folder.filePath(kCalDataFileName);
        CalData old;
        old.calGasName = QStringLiteral("Пропан");
        QVERIFY(WriteCalDataFile(path, old));

        CalData changed;
        changed.maxGas = 1.0;
        QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner);
        bool refused = true;
#ifndef _WIN32
        refused = geteuid() != 0;  // root writes into read-only folders anyway
#endif
        if (refused) {
            QString error;
            QVERIFY(!WriteCalDataFile(path, changed, &error));
            QVERIFY(!error.isEmpty());
            CalData back;
            QCOMPARE(ReadCalDataFile(path, back).status, CalReadStatus::Loaded);
            QCOMPARE(back.calGasName, QStringLiteral("Пропан"));
        }
        QFile::setPermissions(folder.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // A folder that cannot exist stops even root.
        QString error;
        QVERIFY(!WriteCalDataFile(path + QStringLiteral("/") + kCalDataFileName, changed, &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(CalDataFileTest)
#include "cal_data_file_test.moc"
