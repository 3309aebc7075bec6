#include "app/station_options.h"

#include <QCommandLineParser>

#include "link/number_text.h"
#include "poll/poll_block.h"

namespace zta {
namespace {

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("Serial port to list first (repeatable)."),
                            QStringLiteral("path")};
    QCommandLineOption rs485{QStringLiteral("rs485"),
                             QStringLiteral("RS-485 direction: driver or program."),
                             QStringLiteral("mode")};
    QCommandLineOption open{QStringLiteral("open"),
                            QStringLiteral("Analyzer windows for these network numbers."),
                            QStringLiteral("n,n,...")};
    QCommandLineOption connect{QStringLiteral("connect"),
                               QStringLiteral("Connect at start (\"Подключить\").")};
    QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                  QStringLiteral("Save a picture of the main window after "
                                                 "--wait ms, then quit."),
                                  QStringLiteral("file.png")};
    QCommandLineOption wait{QStringLiteral("wait"),
                            QStringLiteral("Milliseconds before the screenshot (3000)."),
                            QStringLiteral("ms")};
    QCommandLineOption dialogShots{QStringLiteral("dialog-screenshots"),
                                   QStringLiteral("Save pictures of the dialogs into a folder, "
                                                  "then quit."),
                                   QStringLiteral("folder")};
    QCommandLineOption timer{QStringLiteral("timer"),
                             QStringLiteral("With --connect: start the record timer of every "
                                            "window, one record every N seconds."),
                             QStringLiteral("N")};
    QCommandLineOption version{QStringLiteral("version"),
                               QStringLiteral("Print the version and quit.")};
    QCommandLineOption bench{QStringLiteral("bench"),
                             QStringLiteral("Open a saved bench (\"Открыть стенд\") at start."),
                             QStringLiteral("file")};

    QCommandLineOption overview{QStringLiteral("overview"),
                                QStringLiteral("Show the bus overview (\"Связь\" > \"Обзор шины\"); "
                                               "more than ten windows go to icons.")};
    QCommandLineOption fast{QStringLiteral("fast"),
                            QStringLiteral("Fast polling (\"Связь\" > \"Быстрый опрос\").")};
    QCommandLineOption monitorShot{QStringLiteral("monitor-screenshot"),
                                   QStringLiteral("With --screenshot: open the traffic monitor "
                                                  "and save its picture too."),
                                   QStringLiteral("file.png")};

    Parser() {
        parser.setApplicationDescription(QStringLiteral("ZTA-K7 station"));
        parser.addOptions({port, rs485, open, connect, screenshot, wait, dialogShots, bench, timer,
                           version, overview, fast, monitorShot});
    }
};

// A value of a single-valued option given twice would silently lose one of them.
bool Once(const QCommandLineParser& parser, const QCommandLineOption& option, QString* error) {
    if (parser.values(option).size() <= 1)
        return true;
    *error = QStringLiteral("--%1 is given more than once").arg(option.names().constFirst());
    return false;
}

}  // namespace

bool ParseStationCommandLine(const QStringList& arguments, StationCommandLine* result,
                             QString* error) {
    Parser p;
    if (!p.parser.parse(arguments)) {
        *error = p.parser.errorText();
        return false;
    }
    StationCommandLine r;
    r.help = p.parser.isSet(p.help) || p.parser.isSet(QStringLiteral("help-all"));
    for (const QCommandLineOption* o : {&p.rs485, &p.open, &p.screenshot, &p.wait, &p.dialogShots, &p.bench,
                                        &p.timer})
        if (!Once(p.parser, *o, error))
            return false;
    r.ports = p.parser.values(p.port);
    for (const QString& port : r.ports)
        if (port.isEmpty()) {
            *error = QStringLiteral("--port needs a path");
            return false;
        }
    if (p.parser.isSet(p.rs485)) {
        const QString mode = p.parser.value(p.rs485);
        r.directionGiven = true;
        if (mode == QLatin1String("driver")) {
            r.direction = zta::DirectionSetting::Driver;
        } else if (mode == QLatin1String("program")) {
            r.direction = zta::DirectionSetting::Program;
        } else {
            *error = QStringLiteral("--rs485 takes driver or program");
            return false;
        }
    }
    if (p.parser.isSet(p.open)) {
        const QStringList numbers = p.parser.value(p.open).split(QLatin1Char(','));
        if (numbers.size() > zta::kMaxSlots) {
            *error = QStringLiteral("--open takes at most %1 network numbers").arg(zta::kMaxSlots);
            return false;
        }
        for (const QString& text : numbers) {
            long n = 0;
            if (!zta::ParseWholeNumber(text.toStdString(), 0, 255, &n)) {
                *error = QStringLiteral("--open takes network numbers 0..255, separated by "
                                        "commas: \"%1\"")
                             .arg(text);
                return false;
            }
            if (r.openNumbers.contains(int(n))) {
                *error = QStringLiteral("--open: network number %1 is given twice").arg(n);
                return false;
            }
            r.openNumbers.append(int(n));
        }
    }
    r.connect = p.parser.isSet(p.connect);
    r.screenshot = p.parser.value(p.screenshot);
    if (p.parser.isSet(p.screenshot) && r.screenshot.isEmpty()) {
        *error = QStringLiteral("--screenshot needs a file name");
        return false;
    }
    if (p.parser.isSet(p.wait)) {
        if (r.screenshot.isEmpty()) {
            *error = QStringLiteral("--wait is the delay of a --screenshot: without one it "
                                    "means nothing");
            return false;
        }
        long ms = 0;
        if (!zta::ParseWholeNumber(p.parser.value(p.wait).toStdString(), 0, 600000, &ms)) {
            *error = QStringLiteral("--wait takes milliseconds from 0 to 600000");
            return false;
        }
        r.waitMs = int(ms);
    }
    r.overview = p.parser.isSet(p.overview);
    r.fast = p.parser.isSet(p.fast);
    r.monitorScreenshot = p.parser.value(p.monitorShot);
    if (!r.monitorScreenshot.isEmpty() && r.screenshot.isEmpty()) {
        *error = QStringLiteral("--monitor-screenshot goes with a --screenshot");
        return false;
    }
    r.dialogShotsFolder = p.parser.value(p.dialogShots);
    if (p.parser.isSet(p.dialogShots) && r.dialogShotsFolder.isEmpty()) {
        *error = QStringLiteral("--dialog-screenshots needs a folder");
        return false;
    }
    if (p.parser.isSet(p.timer)) {
        long seconds = 0;
        if (!zta::ParseWholeNumber(p.parser.value(p.timer).toStdString(), 1, 86400, &seconds) ||
            !r.connect) {
            *error = QStringLiteral("--timer takes 1..86400 seconds and needs --connect");
            return false;
        }
        r.timerSeconds = int(seconds);
    }
    r.benchFile = p.parser.value(p.bench);
    if (p.parser.isSet(p.bench) && r.benchFile.isEmpty()) {
        *error = QStringLiteral("--bench needs a file");
        return false;
    }
    *result = r;
    return true;
}

QString StationCommandLineHelp() {
    Parser p;
    return p.parser.helpText();
}

}  // namespace zta
