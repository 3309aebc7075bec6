// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/bench_control.h"
#include "app/bus_tools.h"
#include "app/dialog_screenshots.h"
#include "app/main_window.h"
#include "app/station_application.h"
#include "app/station_options.h"
#include "app/user_folders.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "ui/dialogs.h"
#include "zta/version.h"

using namespace zta;

namespace {

// The real dialogs, but the timer dialog answered by the command line.
class TimerOption : public StationDialogs {
  public:
    explicit TimerOption(int period) : period_(period) {}
    std::optional<int> askTimerPeriod(int, QWidget*) override { return period_; }

  private:
    int period_;
};

// --open 1,2,3: one analyzer window per number (the first window takes the first number).
void openWindows(MainWindow& frame, const QList<int>& numbers) {
    for (int i = 0; i < numbers.size(); ++i) {
        if (i > 0 && !frame.openNewDocument()) break;
        const QList<QMdiSubWindow*> children = frame.mdiArea()->subWindowList();
        auto* child = qobject_cast<AnalyzerSubWindow*>(children.value(i));
        if (child && child->view())
            child->view()->numberField()->setText(QString::number(numbers[i]));
    }
    if (!numbers.isEmpty()) frame.tileWindows();
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("zta-k7 %s\n", zta::kVersion);
            return 0;
        }
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h") ||
            !std::strcmp(argv[i], "-?") || !std::strcmp(argv[i], "--help-all")) {
            const QCoreApplication core(argc, argv);  // names the program in the usage line
            std::fputs(qPrintable(stationCommandLineHelp()), stdout);
            return 0;
        }
    }
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("mirel"));
    zta::loadQtRussian();

    StationCommandLine args;
    QString error;
    if (!parseStationCommandLine(QCoreApplication::arguments(), &args, &error)) {
        std::fprintf(stderr, "zta-k7: %s\n%s", qPrintable(error),
                     qPrintable(stationCommandLineHelp()));
        return 2;
    }
    if (args.help) {
        std::fputs(qPrintable(stationCommandLineHelp()), stdout);
        return 0;
    }

    StationOptions options;
    options.calDataPath = zta::calibrationFilePath();
    // In the user's configuration folder, so that the save at close has a folder to go to.
    QDir().mkpath(QFileInfo(options.calDataPath).absolutePath());
    options.extraPorts = args.ports;
    options.direction = args.directionGiven ? args.direction : zta::directionFromEnvironment();
    // Analyzer windows have no file form: positional arguments are ignored.

    StationApplication app(options);
    if (!app.initInstance()) return 1;
    MainWindow& frame = *app.mainFrame();
    if (!args.dialogShotsFolder.isEmpty())
        return saveDialogScreenshots(&frame, args.dialogShotsFolder) == 0 ? 0 : 1;
    if (!args.screenshot.isEmpty()) {
        frame.resize(args.overview ? QSize(1600, 1000) : QSize(1400, 660));
        QCoreApplication::processEvents();
    }
    // A bench that cannot be read has had its box; the station starts as without one.
    if (!args.benchFile.isEmpty()) app.benchControl().openBench(args.benchFile);
    // The command line's word stands over the bench's.
    if (args.netTimeoutMs >= 0) frame.station().setNetTimeoutMs(args.netTimeoutMs);
    if (args.commandExpirySeconds >= 0)
        frame.station().setCommandExpirySeconds(args.commandExpirySeconds);
    if (args.fast) frame.block().setFastPolling(true);
    openWindows(frame, args.openNumbers);
    if (args.overview) {
        // Past ten windows the overview is the way to see them: the windows go to icons.
        if (frame.block().windowCount() > 10)
            for (QMdiSubWindow* child : frame.mdiArea()->subWindowList()) child->showMinimized();
        app.busTools().showOverview();
    }
    // The bench's record timers start with polling, here or at the operator's "Подключить".
    if (args.connect) frame.connectLine();
    if (args.timerSeconds > 0) {
        // The "for all windows" timer command with its dialog answered by the option.
        TimerOption answer(args.timerSeconds);
        setDialogs(&answer);
        frame.router().dispatch(CommandId::TimerAll);
        setDialogs(nullptr);
    }
    if (!args.screenshot.isEmpty()) {
        const QString file = args.screenshot;
        const QString monitorFile = args.monitorScreenshot;
        if (!monitorFile.isEmpty()) app.busTools().showMonitor();
        BusTools* tools = &app.busTools();
        QTimer::singleShot(args.waitMs, &frame, [&frame, tools, file, monitorFile] {
            bool saved = frame.grab().save(file);
            if (!monitorFile.isEmpty() && tools->monitor()) {
                tools->monitor()->pull();
                saved = tools->monitor()->grab().save(monitorFile) && saved;
            }
            if (!saved) qCritical("cannot write %s", qPrintable(file));
            frame.close();
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    return qapp.exec();
}
