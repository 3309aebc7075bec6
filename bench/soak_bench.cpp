// SPDX-License-Identifier: GPL-3.0-or-later
// A long run of the whole station: fifty simulated analyzers polled through the real poll thread,
// a record timer in every window, and the adapter unplugged and plugged in again at fixed
// intervals. Prints resident memory, open descriptors, record lines written against expected
// and any line that is not whole. Prints figures only.
//
//   soak_bench [minutes] [minutes between unplugs] [timer seconds]   (30, 5, 1; offscreen)

#if __has_include(<QApplication>)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/main_window.h"
#include "app/station_application.h"
#include "app/station_bridge.h"
#include "bench/bench_station.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/record_file.h"
#include "sim/bus.h"
#include "ui/command_ids.h"
#include "ui/dialogs.h"

using namespace zta;

namespace {

constexpr int kAnalyzers = 50;

long openDescriptors() {
    const QDir fds(QStringLiteral("/proc/self/fd"));
    return fds.exists() ? long(fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size()) : -1;
}

// Answers every box with OK and only counts them: a run of hours must not grow a list.
class CountingDialogs : public ScriptedDialogs {
  public:
    int show(const QString&, const QString&, Icon, int, QWidget*) override {
        ++count;
        return ResultOk;
    }
    long count = 0;
};

struct FileCheck {
    long lines = 0;
    long cut = 0;  // lines that are not a whole record line, or a file not ending in CR LF
};

FileCheck checkRecordFile(const QString& path) {
    static const QRegularExpression whole(
        QStringLiteral("^-?\\d+ -?\\d+ -?\\d+ -?\\d+ -?\\d+ -?\\d+ [01]+ \\d\\d:\\d\\d:\\d\\d $"));
    FileCheck check;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return check;
    const QByteArray data = file.readAll();
    if (!data.isEmpty() && !data.endsWith("\r\n")) ++check.cut;
    const QList<QByteArray> lines = data.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        ++check.lines;
        const QByteArray& l = lines[i];
        if (!l.endsWith('\r') || !whole.match(QString::fromLatin1(l.chopped(1))).hasMatch())
            ++check.cut;
    }
    return check;
}

void printState(const char* when, double minutes, CountingDialogs& boxes) {
    std::printf("%6.1f min  %-28s resident %ld KiB, descriptors %ld, boxes %ld\n", minutes, when,
                residentKiB(), openDescriptors(), boxes.count);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const double minutes = argc > 1 ? std::max(0.1, std::atof(argv[1])) : 30.0;
    const double unplugEvery = argc > 2 ? std::max(0.05, std::atof(argv[2])) : 5.0;
    const int timerSeconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;

    QApplication qapp(argc, argv);
    CountingDialogs boxes;
    setDialogs(&boxes);

    QTemporaryDir dir;
    auto bus = zta::sim::Bus::openPty((dir.path() + QStringLiteral("/line")).toStdString());
    if (!dir.isValid() || !bus) {
        std::printf("no pseudo-terminal or temporary folder: nothing measured\n");
        return 0;
    }
    for (int a = 1; a <= kAnalyzers; ++a) {
        zta::sim::AnalyzerConfig cfg;
        cfg.address = a;
        cfg.baud = 19200;
        cfg.wave = zta::sim::Wave::Sine;
        cfg.amplitude = 10;
        cfg.periodS = 60;
        bus->addAnalyzer(cfg);
    }
    bus->start();

    const StationOptions options =
        benchStationOptions(*bus, dir.path() + QStringLiteral("/CalDataK7.cfg"));
    StationApplication app(options);
    app.initInstance();
    MainWindow& frame = *app.mainFrame();
    frame.station().setRecordFolder(dir.path() + QStringLiteral("/records"));
    QDir(dir.path()).mkdir(QStringLiteral("records"));
    for (int i = 1; i < kAnalyzers; ++i) frame.openNewDocument();
    const QList<QMdiSubWindow*> children = frame.mdiArea()->subWindowList();
    for (int i = 0; i < children.size(); ++i)
        if (auto* child = qobject_cast<AnalyzerSubWindow*>(children[i]))
            child->view()->numberField()->setText(QString::number(i + 1));
    frame.tileWindows();

    TimedViews timed(frame);
    const long& notices = timed.notices;

    frame.station().setBaud(4);
    frame.connectLine();
    QElapsedTimer firstTurns;
    firstTurns.start();
    while (notices < 2 * kAnalyzers && firstTurns.elapsed() < 30000) processFor(100);
    std::printf(
        "%d analyzers at 19200 baud, record timers of %d s, unplug every %.1f min, "
        "%.1f min in all\n",
        kAnalyzers, timerSeconds, unplugEvery, minutes);

    boxes.periods.push_back(timerSeconds);
    frame.onCommand(CommandId::TimerAll);
    QElapsedTimer run;
    run.start();
    const long rssStart = residentKiB();
    const long fdStart = openDescriptors();
    printState("timers started", 0, boxes);

    const qint64 total = qint64(minutes * 60000);
    const qint64 cycle = qint64(unplugEvery * 60000);
    int outages = 0;
    double slowestResumeS = 0;
    for (qint64 nextUnplug = cycle; nextUnplug < total; nextUnplug += cycle) {
        processFor(nextUnplug - run.elapsed());
        bus->unplug();
        ++outages;
        // The station notices the vanished adapter; give it the time of a few turns.
        processFor(3000);
        std::string error;
        if (!bus->replug(&error)) {
            std::printf("replug failed: %s\n", error.c_str());
            break;
        }
        // A station that gave the line up is connected again, as an operator would.
        if (!frame.station().isPolling()) frame.connectLine();
        // Back when every analyzer has answered again.
        std::vector<int> replies(kAnalyzers);
        for (int s = 0; s < kAnalyzers; ++s) replies[s] = frame.block().snapshot(s).replyCount;
        auto allAnswered = [&] {
            for (int s = 0; s < kAnalyzers; ++s)
                if (frame.block().snapshot(s).replyCount == replies[s]) return false;
            return true;
        };
        QElapsedTimer resume;
        resume.start();
        while (!allAnswered() && resume.elapsed() < 60000) processFor(50);
        const double resumeS = resume.elapsed() / 1000.0;
        slowestResumeS = std::max(slowestResumeS, resumeS);
        printState(QStringLiteral("replugged, resumed in %1 s")
                       .arg(resumeS, 0, 'f', 1)
                       .toLatin1()
                       .constData(),
                   run.elapsed() / 60000.0, boxes);
    }
    processFor(total - run.elapsed());
    frame.onCommand(CommandId::TimerOffAll);
    const double timedS = run.elapsed() / 1000.0;
    const long rssEnd = residentKiB();
    const long fdEnd = openDescriptors();
    printState("timers stopped", timedS / 60.0, boxes);
    frame.disconnectLine();

    long lines = 0, cut = 0, fewest = -1, most = 0;
    for (int a = 1; a <= kAnalyzers; ++a) {
        const FileCheck c =
            checkRecordFile(recordFilePath(dir.path() + QStringLiteral("/records/"), a, true));
        lines += c.lines;
        cut += c.cut;
        fewest = fewest < 0 ? c.lines : std::min(fewest, c.lines);
        most = std::max(most, c.lines);
    }
    const long expected = kAnalyzers * (1 + long(timedS / timerSeconds));
    std::printf("resident memory: %ld KiB at start, %ld KiB at end (%+ld KiB)\n", rssStart, rssEnd,
                rssEnd - rssStart);
    std::printf("open descriptors: %ld at start, %ld at end\n", fdStart, fdEnd);
    std::printf(
        "record lines: %ld written, %ld expected over %.0f s (%.2f %%), %ld to %ld per "
        "window\n",
        lines, expected, timedS, 100.0 * lines / std::max(1L, expected), fewest, most);
    std::printf("lines cut or malformed: %ld\n", cut);
    std::printf(
        "outages: %d, slowest return of every window: %.1f s, message boxes: %ld, "
        "data notices: %ld\n",
        outages, slowestResumeS, boxes.count, notices);
    frame.close();
    setDialogs(nullptr);
    return 0;
}

#else
#include <cstdio>
int main() {
    std::printf("built without the user interface: nothing to measure\n");
    return 0;
}
#endif
