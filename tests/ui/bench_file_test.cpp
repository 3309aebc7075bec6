// SPDX-License-Identifier: GPL-3.0-or-later
// The saved bench: a round trip keeps everything; a malformed or wrong file gives a message
// that says where and what, and yields nothing.

#include "app/bench_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using zta::BenchSettings;

class BenchFileTest : public QObject {
    Q_OBJECT

  private slots:
    void roundTrip() {
        BenchSettings b;
        b.port = QStringLiteral("/dev/ttyUSB0");
        b.baudRate = 19200;
        b.recordFolder = QStringLiteral("/home/лаборатория/записи; стенд 2/");
        b.csvLog = true;
        b.mainGeometry = QRect(10, 20, 1600, 1000);
        b.mainMaximized = true;
        b.settleBandPercent = 0.5;
        b.settleSeconds = 45;
        b.commandExpirySeconds = 0;
        b.netTimeoutMs = 40;
        b.windows = {{1, 0, QRect(0, 0, 1500, 120), false, false, true, 60},
                     {255, 60, {}, true, false, false, 0},
                     {0, 3600, QRect(-5, 300, 800, 200), false, true, false, 86400}};
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/стенд.json");
        QString error;
        QVERIFY(zta::writeBenchFile(path, b, &error));
        const auto back = zta::readBenchFile(path, &error);
        QVERIFY2(back, qPrintable(error));
        QCOMPARE(*back, b);

        // A file with only the marks is a bench with every default: what a run starts with.
        const auto empty =
            zta::benchFromText(R"({"format": "zta-k7 bench", "version": 1})", &error);
        QVERIFY(empty);
        QCOMPARE(*empty, BenchSettings());
    }

    void malformed_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("message");
        const QByteArray head = R"({"format": "zta-k7 bench", "version": 1, )";
        QTest::newRow("cut short") << QByteArray("{\"format\": \"zta-k7 bench\",\n  \"port\": ")
                                   << QString("строка 2, позиция 11: запись повреждена");
        QTest::newRow("not a bench")
            << QByteArray(R"({"windows": []})") << QString("это не файл стенда");
        QTest::newRow("a list") << QByteArray("[1, 2]") << QString("это не файл стенда");
        QTest::newRow("newer version")
            << QByteArray(R"({"format": "zta-k7 bench", "version": 2})")
            << QString("версия файла 2 не поддерживается (поддерживается 1)");
        QTest::newRow("odd baud") << head + R"("baudRate": 115200})"
                                  << QString(
                                         "«baudRate» 115200: скорость не из 1200, 2400, 4800, "
                                         "9600, 19200");
        QTest::newRow("port a number")
            << head + R"("port": 3})" << QString("«port» должно быть текстом");
        QTest::newRow("csv a word")
            << head + R"("csvLog": "yes"})" << QString("«csvLog» должно быть true или false");
        QTest::newRow("band") << head + R"("settle": {"bandPercent": 0}})"
                              << QString("settle: «bandPercent» должно быть числом от 0.1 до 50");
        QTest::newRow("expiry negative")
            << head + R"("commandExpirySeconds": -1})"
            << QString("«commandExpirySeconds» должно быть целым от 0 до 86400");
        QTest::newRow("net time-out") << head + R"("netTimeoutMs": 60001})"
                                      << QString("«netTimeoutMs» должно быть целым от 0 до 60000");
        QTest::newRow("settle a number")
            << head + R"("settle": 5})" << QString("«settle» должно быть объектом { }");
        QTest::newRow("number too big")
            << head + R"("windows": [{"networkNumber": 1}, {"networkNumber": 300}]})"
            << QString("окно 2: «networkNumber» должно быть целым от 0 до 255");
        QTest::newRow("number missing") << head + R"("windows": [{"timerPeriod": 5}]})"
                                        << QString("окно 1: «networkNumber» не указан");
        QTest::newRow("fractional timer")
            << head + R"("windows": [{"networkNumber": 1, "timerPeriod": 2.5}]})"
            << QString("окно 1: «timerPeriod» должно быть целым от 0 до 2147483");
        QTest::newRow("negative timer")
            << head + R"("windows": [{"networkNumber": 1, "timerPeriod": -5}]})"
            << QString("окно 1: «timerPeriod» должно быть целым от 0 до 2147483");
        QTest::newRow("window a number")
            << head + R"("windows": [7]})" << QString("окно 1: должно быть объектом { }");
        QByteArray many = head + R"("windows": [)";
        for (int i = 0; i < 51; ++i) many += QByteArray(i ? "," : "") + R"({"networkNumber": 1})";
        QTest::newRow("51 windows")
            << many + "]}" << QString("окон 51, а открыть больше пятидесяти нельзя");
    }

    void malformed() {
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        QString error;
        QVERIFY(!zta::benchFromText(text, &error));
        QVERIFY2(error.startsWith(message), qPrintable(error));

        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/bench.json");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        QVERIFY(!zta::readBenchFile(path, &error));
        QVERIFY2(
            error.startsWith(QStringLiteral("Файл стенда %1 не прочитан: %2").arg(path, message)),
            qPrintable(error));
    }

    void missingAndUnwritableFiles() {
        QTemporaryDir dir;
        QString error;
        QVERIFY(!zta::readBenchFile(dir.path() + QStringLiteral("/none.json"), &error));
        QVERIFY(error.startsWith(
            QStringLiteral("Файл стенда %1/none.json не открыт: ").arg(dir.path())));
        QVERIFY(
            !zta::writeBenchFile(dir.path() + QStringLiteral("/no/such/bench.json"), {}, &error));
        QVERIFY(error.startsWith(
            QStringLiteral("Файл стенда %1/no/such/bench.json не записан: ").arg(dir.path())));
    }
};

QTEST_MAIN(BenchFileTest)
#include "bench_file_test.moc"
