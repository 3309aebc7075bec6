#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include "app/main_frame.h"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("mirel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("ZTA-K7 station"));
    parser.addHelpOption();
    QCommandLineOption port(QStringLiteral("port"),
                            QStringLiteral("Serial port to list first (repeatable)."),
                            QStringLiteral("path"));
    QCommandLineOption rs485(QStringLiteral("rs485"),
                             QStringLiteral("RS-485 direction: driver or program."),
                             QStringLiteral("mode"));
    parser.addOption(port);
    parser.addOption(rs485);
    parser.process(qapp);

    StationOptions options;
    options.extraPorts = parser.values(port);
    options.direction = zta::DirectionFromEnvironment();
    if (parser.isSet(rs485)) {
        const QString mode = parser.value(rs485);
        if (mode == QLatin1String("driver")) {
            options.direction = zta::DirectionSetting::Driver;
        } else if (mode == QLatin1String("program")) {
            options.direction = zta::DirectionSetting::Program;
        } else {
            qCritical("--rs485 takes driver or program");
            return 2;
        }
    }
    // Analyzer windows have no file form: positional arguments are ignored.

    CMirelApp app(options);
    if (!app.InitInstance())
        return 1;
    return qapp.exec();
}
