// SPDX-License-Identifier: GPL-3.0-or-later
// The station's command line: what it takes, and what is refused with a message instead of
// being taken for something the user did not write.

#include "app/station_options.h"

#include <QTest>

#include "program_run.h"

using namespace zta;

class StationOptionsTest : public QObject {
    Q_OBJECT

    static bool parse(const QStringList& args, StationCommandLine* r, QString* error) {
        return parseStationCommandLine(QStringList{QStringLiteral("zta-k7")} + args, r, error);
    }

  private slots:
    void takesEveryOption() {
        StationCommandLine r;
        QString error;
        QVERIFY2(parse({"--port", "/tmp/a", "--port", "/tmp/b", "--rs485", "program", "--open",
                        "7,0,255", "--connect", "--screenshot", "s.png", "--wait", "0",
                        "--command-expiry", "0", "--net-timeout", "250"},
                       &r, &error),
                 qPrintable(error));
        QCOMPARE(r.ports, QStringList({"/tmp/a", "/tmp/b"}));
        QVERIFY(r.directionGiven);
        QCOMPARE(r.direction, zta::DirectionSetting::Program);
        QCOMPARE(r.openNumbers, QList<int>({7, 0, 255}));
        QVERIFY(r.connect);
        QCOMPARE(r.screenshot, QStringLiteral("s.png"));
        QCOMPARE(r.waitMs, 0);
        QCOMPARE(r.commandExpirySeconds, 0);
        QCOMPARE(r.netTimeoutMs, 250);

        QVERIFY(parse({}, &r, &error));
        QVERIFY(!r.directionGiven && r.openNumbers.isEmpty() && !r.connect);
        QCOMPARE(r.waitMs, 3000);
        QCOMPARE(r.commandExpirySeconds, -1);
        QCOMPARE(r.netTimeoutMs, -1);
    }

    void refusesWhatMeansNothing_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        QTest::newRow("negative wait")
            << QStringList{"--screenshot", "s.png", "--wait", "-5"} << "--wait takes milliseconds";
        QTest::newRow("wait in words")
            << QStringList{"--screenshot", "s.png", "--wait", "3s"} << "--wait takes milliseconds";
        QTest::newRow("wait alone") << QStringList{"--wait", "100"} << "--screenshot";
        QTest::newRow("open blank") << QStringList{"--open", " 1"} << "\" 1\"";
        QTest::newRow("open plus") << QStringList{"--open", "+1"} << "\"+1\"";
        QTest::newRow("open hex") << QStringList{"--open", "0x10"} << "\"0x10\"";
        QTest::newRow("open empty item") << QStringList{"--open", "1,,2"} << "\"\"";
        QTest::newRow("open twice the same") << QStringList{"--open", "1,1,1"} << "given twice";
        QTest::newRow("open too high") << QStringList{"--open", "256"} << "0..255";
        QTest::newRow("open given twice")
            << QStringList{"--open", "1", "--open", "2"} << "more than once";
        QTest::newRow("expiry a word")
            << QStringList{"--command-expiry", "30s"} << "--command-expiry takes 0..86400";
        QTest::newRow("net time-out too long")
            << QStringList{"--net-timeout", "60001"} << "--net-timeout takes 0..60000";
        QTest::newRow("rs485") << QStringList{"--rs485", "auto"} << "driver or program";
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << "frobnicate";
        QTest::newRow("no value") << QStringList{"--port"} << "port";
        QStringList many{"--open"};
        QStringList numbers;
        for (int i = 0; i <= 50; ++i) numbers << QString::number(i);
        many << numbers.join(',');
        QTest::newRow("51 windows") << many << "at most 50";
    }

    void refusesWhatMeansNothing() {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        StationCommandLine r;
        QString error;
        QVERIFY(!parse(args, &r, &error));
        QVERIFY2(error.contains(says), qPrintable(error));
    }

#ifdef ZTA_K7_PROGRAM
    // Help and the version are printed before a window system is asked for: a shell without a
    // display gets them too.
    void helpAndVersionNeedNoDisplay() {
        const struct {
            const char* option;
            const char* says;
        } cases[] = {{"--help", "--port"}, {"-h", "--rs485"}, {"--version", "zta-k7 "}};
        for (const auto& c : cases) {
            const auto r = zta::testing::runProgram(
                std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
                ZTA_K7_PROGRAM + " " + c.option + " 2>&1");
            QCOMPARE(r.status, 0);
            QVERIFY2(r.out.find(c.says) != std::string::npos, r.out.c_str());
        }
    }
#endif
};

QTEST_GUILESS_MAIN(StationOptionsTest)
#include "station_options_test.moc"
