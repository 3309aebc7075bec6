#include <QApplication>
#include <QCommandLineParser>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>

#include "app/bus_tools.h"
#include "app/dialog_screenshots.h"
#include "app/main_window.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"

using namespace zta;

namespace {

// --open 1,2,3: one analyzer window per number (the first window takes the first number).
bool OpenWindows(MainWindow& frame, const QString& list) {
    const QStringList numbers = list.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (int i = 0; i < numbers.size(); ++i) {
        bool ok = false;
        const int number = numbers[i].trimmed().toInt(&ok);
        if (!ok || number < 0 || number > 255) {
            qCritical("--open takes network numbers 0..255, separated by commas");
            return false;
        }
        if (i > 0 && !frame.OpenNewDocument())
            return true;
        const QList<QMdiSubWindow*> children = frame.mdiArea()->subWindowList();
        auto* child = qobject_cast<AnalyzerSubWindow*>(children.value(i));
        if (child && child->view())
            child->view()->numberField()->setText(QString::number(number));
    }
    frame.TileWindows();
    return true;
}

}  // namespace

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
    QCommandLineOption open(QStringLiteral("open"),
                            QStringLiteral("Analyzer windows for these network numbers."),
                            QStringLiteral("n,n,..."));
    QCommandLineOption connect(QStringLiteral("connect"),
                               QStringLiteral("Connect at start (\"Подключить\")."));
    QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                  QStringLiteral("Save a picture of the main window after "
                                                 "--wait ms, then quit."),
                                  QStringLiteral("file.png"));
    QCommandLineOption wait(QStringLiteral("wait"),
                            QStringLiteral("Milliseconds before the screenshot (3000)."),
                            QStringLiteral("ms"), QStringLiteral("3000"));
    QCommandLineOption dialogShots(QStringLiteral("dialog-screenshots"),
                                   QStringLiteral("Save pictures of the dialogs into a folder, "
                                                  "then quit."),
                                   QStringLiteral("folder"));
    QCommandLineOption overview(QStringLiteral("overview"),
                                QStringLiteral("Show the bus overview (\"Связь\" > \"Обзор шины\"); "
                                               "more than ten windows go to icons."));
    QCommandLineOption fast(QStringLiteral("fast"),
                            QStringLiteral("Fast polling (\"Связь\" > \"Быстрый опрос\")."));
    QCommandLineOption monitorShot(QStringLiteral("monitor-screenshot"),
                                   QStringLiteral("With --screenshot: open the traffic monitor "
                                                  "and save its picture too."),
                                   QStringLiteral("file.png"));
    parser.addOptions({port, rs485, open, connect, screenshot, wait, dialogShots, overview, fast,
                       monitorShot});
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

    StationApplication app(options);
    if (!app.InitInstance())
        return 1;
    MainWindow& frame = *app.mainFrame();
    if (parser.isSet(dialogShots))
        return SaveDialogScreenshots(&frame, parser.value(dialogShots)) == 0 ? 0 : 1;
    if (parser.isSet(screenshot)) {
        frame.resize(parser.isSet(overview) ? QSize(1600, 1000) : QSize(1400, 660));
        QCoreApplication::processEvents();
    }
    if (parser.isSet(fast))
        frame.block().SetFastPolling(true);

    if (parser.isSet(open) && !OpenWindows(frame, parser.value(open)))
        return 2;
    if (parser.isSet(overview)) {
        // Past ten windows the overview is the way to see them: the windows go to icons.
        if (frame.block().WindowCount() > 10)
            for (QMdiSubWindow* child : frame.mdiArea()->subWindowList())
                child->showMinimized();
        frame.busTools().ShowOverview();
    }
    if (parser.isSet(connect))
        frame.Connect();
    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        const QString monitorFile = parser.value(monitorShot);
        if (!monitorFile.isEmpty())
            frame.busTools().ShowMonitor();
        QTimer::singleShot(parser.value(wait).toInt(), &frame, [&frame, file, monitorFile] {
            bool saved = frame.grab().save(file);
            if (!monitorFile.isEmpty() && frame.busTools().monitor()) {
                frame.busTools().monitor()->Pull();
                saved = frame.busTools().monitor()->grab().save(monitorFile) && saved;
            }
            if (!saved)
                qCritical("cannot write %s", qPrintable(file));
            frame.close();
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    return qapp.exec();
}
