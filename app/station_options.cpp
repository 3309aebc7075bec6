// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/station_options.h"

#include <QCommandLineParser>

#include "link/number_text.h"
#include "poll/poll_block.h"

namespace zta {
namespace {

// Help lists the options in this order; "once" marks a single-valued option.
struct OptionSpec {
    const char* name;
    const char* description;
    const char* valueName;
    bool once;
};

constexpr OptionSpec kOptions[] = {
    {"port", "Serial port to list first (repeatable).", "path", false},
    {"rs485", "RS-485 direction: driver or program.", "mode", true},
    {"open", "Analyzer windows for these network numbers.", "n,n,...", true},
    {"connect", "Connect at start (\"Подключить\").", nullptr, false},
    {"screenshot", "Save a picture of the main window after --wait ms, then quit.", "file.png",
     true},
    {"wait", "Milliseconds before the screenshot (3000).", "ms", true},
    {"dialog-screenshots", "Save pictures of the dialogs into a folder, then quit.", "folder",
     true},
    {"bench", "Open a saved bench (\"Открыть стенд\") at start.", "file", true},
    {"timer", "With --connect: start the record timer of every window, one record every N seconds.",
     "N", true},
    {"version", "Print the version and quit.", nullptr, false},
    {"overview",
     "Show the bus overview (\"Связь\" > \"Обзор шины\"); more than ten windows go to icons.",
     nullptr, false},
    {"fast", "Fast polling (\"Связь\" > \"Быстрый опрос\").", nullptr, false},
    {"monitor-screenshot", "With --screenshot: open the traffic monitor and save its picture too.",
     "file.png", false},
    {"command-expiry",
     "A service command not carried out within SEC seconds of its confirmation is sent no more "
     "and fails (30; 0: never).",
     "SEC", true},
    {"net-timeout",
     "What a network line (tcp://, rfc2217://, mbtcp://) adds to the reply time-out, in "
     "milliseconds (100; a device server may hold a reply tens of ms).",
     "MS", true},
};

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();

    Parser() {
        parser.setApplicationDescription(QStringLiteral("ZTA-K7 station"));
        for (const OptionSpec& o : kOptions)
            parser.addOption(o.valueName ? QCommandLineOption(QString::fromUtf8(o.name),
                                                              QString::fromUtf8(o.description),
                                                              QString::fromUtf8(o.valueName))
                                         : QCommandLineOption(QString::fromUtf8(o.name),
                                                              QString::fromUtf8(o.description)));
    }
    bool isSet(const char* name) const { return parser.isSet(QString::fromUtf8(name)); }
    QString value(const char* name) const { return parser.value(QString::fromUtf8(name)); }
};

// A value of a single-valued option given twice would silently lose one of them.
bool once(const QCommandLineParser& parser, const char* name, QString* error) {
    if (parser.values(QString::fromUtf8(name)).size() <= 1) return true;
    *error = QStringLiteral("--%1 is given more than once").arg(QString::fromUtf8(name));
    return false;
}

}  // namespace

bool parseStationCommandLine(const QStringList& arguments, StationCommandLine* result,
                             QString* error) {
    Parser p;
    if (!p.parser.parse(arguments)) {
        *error = p.parser.errorText();
        return false;
    }
    StationCommandLine r;
    r.help = p.parser.isSet(p.help) || p.parser.isSet(QStringLiteral("help-all"));
    for (const OptionSpec& o : kOptions)
        if (o.once && !once(p.parser, o.name, error)) return false;
    r.ports = p.parser.values(QStringLiteral("port"));
    for (const QString& port : r.ports)
        if (port.isEmpty()) {
            *error = QStringLiteral("--port needs a path");
            return false;
        }
    if (p.isSet("rs485")) {
        const QString mode = p.value("rs485");
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
    if (p.isSet("open")) {
        const QStringList numbers = p.value("open").split(QLatin1Char(','));
        if (numbers.size() > zta::kMaxSlots) {
            *error = QStringLiteral("--open takes at most %1 network numbers").arg(zta::kMaxSlots);
            return false;
        }
        for (const QString& text : numbers) {
            long n = 0;
            if (!zta::parseWholeNumber(text.toStdString(), 0, 255, &n)) {
                *error = QStringLiteral(
                             "--open takes network numbers 0..255, separated by "
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
    r.connect = p.isSet("connect");
    r.screenshot = p.value("screenshot");
    if (p.isSet("screenshot") && r.screenshot.isEmpty()) {
        *error = QStringLiteral("--screenshot needs a file name");
        return false;
    }
    if (p.isSet("wait")) {
        if (r.screenshot.isEmpty()) {
            *error = QStringLiteral(
                "--wait is the delay of a --screenshot: without one it "
                "means nothing");
            return false;
        }
        long ms = 0;
        if (!zta::parseWholeNumber(p.value("wait").toStdString(), 0, 600000, &ms)) {
            *error = QStringLiteral("--wait takes milliseconds from 0 to 600000");
            return false;
        }
        r.waitMs = int(ms);
    }
    r.overview = p.isSet("overview");
    r.fast = p.isSet("fast");
    r.monitorScreenshot = p.value("monitor-screenshot");
    if (!r.monitorScreenshot.isEmpty() && r.screenshot.isEmpty()) {
        *error = QStringLiteral("--monitor-screenshot goes with a --screenshot");
        return false;
    }
    r.dialogShotsFolder = p.value("dialog-screenshots");
    if (p.isSet("dialog-screenshots") && r.dialogShotsFolder.isEmpty()) {
        *error = QStringLiteral("--dialog-screenshots needs a folder");
        return false;
    }
    if (p.isSet("timer")) {
        long seconds = 0;
        if (!zta::parseWholeNumber(p.value("timer").toStdString(), 1, 86400, &seconds) ||
            !r.connect) {
            *error = QStringLiteral("--timer takes 1..86400 seconds and needs --connect");
            return false;
        }
        r.timerSeconds = int(seconds);
    }
    if (p.isSet("command-expiry")) {
        long seconds = 0;
        if (!zta::parseWholeNumber(p.value("command-expiry").toStdString(), 0, 86400, &seconds)) {
            *error = QStringLiteral("--command-expiry takes 0..86400 seconds");
            return false;
        }
        r.commandExpirySeconds = int(seconds);
    }
    if (p.isSet("net-timeout")) {
        long ms = 0;
        if (!zta::parseWholeNumber(p.value("net-timeout").toStdString(), 0, 60000, &ms)) {
            *error = QStringLiteral("--net-timeout takes 0..60000 milliseconds");
            return false;
        }
        r.netTimeoutMs = int(ms);
    }
    r.benchFile = p.value("bench");
    if (p.isSet("bench") && r.benchFile.isEmpty()) {
        *error = QStringLiteral("--bench needs a file");
        return false;
    }
    *result = r;
    return true;
}

QString stationCommandLineHelp() {
    Parser p;
    return p.parser.helpText();
}

}  // namespace zta
