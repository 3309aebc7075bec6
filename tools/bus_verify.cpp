// SPDX-License-Identifier: GPL-3.0-or-later
// zta-bus verify: a batch's verification from a plan file, on the bench core, with the same
// engine, journal and protocols as the station's guided window.
#include <poll.h>
#include <unistd.h>

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QSysInfo>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <map>
#include <string>

#include "core/bench_core.h"
#include "tools/bus_commands.h"
#include "tools/bus_common.h"
#include "verify/journal.h"
#include "verify/plan.h"
#include "verify/protocol.h"
#include "verify/records_json.h"

namespace zta::bus {
namespace {

namespace v = zta::verify;

constexpr int kGasCommandLimitMs = 60000;
constexpr int kFirstReplyLimitMs = 30000;
constexpr int kSliceMs = 200;

volatile std::sig_atomic_t interrupted = 0;
extern "C" void onVerifyInterrupt(int) { interrupted = 1; }

struct VerifyOptions {
    std::string plan, port, journal, gasCommand, station, out = ".";
    unsigned baud = 9600;
    bool json = false;
    double timeScale = 1.0;
};

bool parseVerifyOptions(int argc, char** argv, VerifyOptions& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc && arg != "--json") {
            error = arg.rfind("--", 0) == 0 ? "option " + arg + " needs a value"
                                            : "unexpected argument " + arg;
            return false;
        }
        long n = 0;
        if (arg == "--json") {
            o.json = true;
        } else if (arg == "--plan") {
            o.plan = argv[++i];
        } else if (arg == "--port") {
            o.port = argv[++i];
        } else if (arg == "--journal") {
            o.journal = argv[++i];
        } else if (arg == "--gas-command") {
            o.gasCommand = argv[++i];
        } else if (arg == "--station") {
            o.station = argv[++i];
        } else if (arg == "--out") {
            o.out = argv[++i];
        } else if (arg == "--baud") {
            if (!parseInt(argv[++i], 0, 1000000, n) || baudCode(static_cast<unsigned>(n)) == 0) {
                error = "--baud must be one of 1200, 2400, 4800, 9600, 19200";
                return false;
            }
            o.baud = static_cast<unsigned>(n);
        } else if (arg == "--time-scale") {
            if (!parseInt(argv[++i], 1, 100, n)) {
                error = "--time-scale takes a whole number from 1 to 100";
                return false;
            }
            o.timeScale = static_cast<double>(n);
        } else {
            error = "verify does not take " + arg;
            return false;
        }
    }
    if (o.plan.empty() || o.port.empty()) {
        error = "verify needs --plan FILE.json and --port P";
        return false;
    }
    return true;
}

// The engine's time: the core's steady milliseconds, scaled as the simulator scales its gas.
struct ScaledTime {
    std::int64_t baseMs = steadyNowMs();
    double scale = 1.0;
    double at(std::int64_t steadyMs) const { return double(steadyMs - baseMs) / 1000.0 * scale; }
};

class EngineClock : public v::Clock {
  public:
    explicit EngineClock(const ScaledTime& time) : time_(time) {}
    double now() const override { return time_.at(steadyNowMs()); }

  private:
    const ScaledTime& time_;
};

// The engine's adjustments go out through the command service, as the operator's would.
class CorePort : public v::CommandPort {
  public:
    explicit CorePort(BenchCore& core) : core_(core) {}
    void send(v::AnalyzerId id, v::Command command, double value) override {
        const AnalyzerId analyzer = static_cast<AnalyzerId>(id);
        if (command == v::Command::Zero)
            core_.commands().send(analyzer, zta::Command::Zero);
        else
            core_.commands().send(
                analyzer,
                command == v::Command::SpanMiddle ? zta::Command::MidGas : zta::Command::MaxGas,
                value);
    }

  private:
    BenchCore& core_;
};

// The core's readings into the engine, once the batch is known.
class Feed : public BenchListener {
  public:
    explicit Feed(const ScaledTime& time) : time_(time) {}
    void readingArrived(const ReadingEvent& e) override {
        if (e.answered()) latest[e.analyzer] = e;
        if (!procedure) return;
        const auto id = static_cast<v::AnalyzerId>(e.analyzer);
        const auto wallMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(e.wallTime.time_since_epoch())
                .count();
        // A silence counts from the request that went unanswered: one sent before the gas
        // was applied says nothing of the point (the analyzer may be back already). A line
        // that went away is lost from the moment it is known.
        if (!e.inContact())
            procedure->onReading(id, time_.at(e.exchanged ? e.turnStartMs : e.steadyMs), wallMs, {},
                                 false);
        else if (e.answered() && e.exchanged)
            procedure->onReading(id, time_.at(e.steadyMs), wallMs,
                                 {e.readings.concentration, (e.readings.relayState & 2) != 0,
                                  (e.readings.relayState & 4) != 0},
                                 true);
    }
    void errorRaised(const std::string& text, const std::string& caption) override {
        std::fprintf(stderr, "zta-bus: %s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ",
                     text.c_str());
        lineError = true;
    }
    std::map<AnalyzerId, ReadingEvent> latest;
    v::Procedure* procedure = nullptr;
    bool lineError = false;

  private:
    const ScaledTime& time_;
};

v::AnalyzerInfo infoOf(AnalyzerId id, int number, const ReadingEvent& e, const v::Method& m) {
    const Readings& r = e.readings;
    v::AnalyzerInfo info;
    info.id = static_cast<v::AnalyzerId>(id);
    info.networkNumber = number;
    info.factoryNumber = r.factoryNumber;
    info.gasCode = r.gasCode > 0 ? r.gasCode : m.gasCode;
    const bool lel = r.extendedModel && e.texts.unitName.find("НКПР") != std::string::npos;
    info.unit = lel ? v::Unit::Lel : v::Unit::VolumePercent;
    info.range = r.extendedModel && r.deviceRange > 0
                     ? r.deviceRange
                     : v::convert(m.range, m.rangeUnit, info.unit, info.gasCode).value_or(m.range);
    // As the station's window names it; -1: an analyzer without the version marker.
    if (r.softwareVersion != 0)
        info.softwareVersion =
            r.softwareVersion == -1
                ? "v1.2"
                : QString::asprintf("v%.1f", r.softwareVersion * 0.1).toStdString();
    info.threshold1 = r.threshold1;
    info.threshold2 = r.threshold2;
    return info;
}

void fail(const QString& text) { std::fprintf(stderr, "zta-bus: %s\n", qPrintable(text)); }

// Waits for the operator's "Газ подан" on standard input, reading the bus meanwhile.
bool askOperator(QueueOfEvents& queue, const QString& prompt) {
    std::fprintf(stderr, "%s\nНажмите Enter, когда газ подан: ", qPrintable(prompt));
    std::fflush(stderr);
    while (!interrupted) {
        queue.drain();
        pollfd in{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&in, 1, kSliceMs);
        if (ready <= 0) continue;
        char line[256];
        return std::fgets(line, sizeof line, stdin) != nullptr;  // end of input: no gas
    }
    return false;
}

// Runs the bench's own gas switch; exit 0 within the limit means the gas is applied.
bool runGasCommand(QueueOfEvents& queue, const QString& command, int point,
                   const v::Cylinder& cylinder) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZTA_POINT", QString::number(point + 1));
    env.insert("ZTA_CYLINDER", QString::fromStdString(cylinder.number));
    env.insert("ZTA_CONCENTRATION", QString::number(cylinder.certified, 'g', 10));
    env.insert("ZTA_UNIT", v::unitKey(cylinder.unit));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start("/bin/sh", {"-c", command});
    if (!process.waitForStarted(5000)) {
        fail(QStringLiteral("команда подачи газа не запустилась: %1").arg(process.errorString()));
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (!process.waitForFinished(kSliceMs)) {
        queue.drain();
        if (timer.elapsed() > kGasCommandLimitMs || interrupted) {
            process.kill();
            process.waitForFinished(5000);
            fail(QStringLiteral("команда подачи газа для точки %1 не закончилась за 60 с")
                     .arg(point + 1));
            return false;
        }
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        fail(QStringLiteral("команда подачи газа для точки %1 не удалась (код %2)")
                 .arg(point + 1)
                 .arg(process.exitCode()));
        return false;
    }
    return true;
}

QString defaultJournal() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           "/ZTA-K7/verification.sqlite";
}

}  // namespace

int verify(int argc, char** argv) {
    VerifyOptions o;
    std::string error;
    if (!parseVerifyOptions(argc, argv, o, error)) {
        std::fprintf(stderr, "zta-bus: %s\n", error.c_str());
        return kUsage;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    char name[] = "zta-bus";
    char* qtArgv[] = {name, nullptr};
    QGuiApplication app(qtArgc, qtArgv);

    QFile planFile(QString::fromStdString(o.plan));
    if (!planFile.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("план %1 не открыт: %2")
                 .arg(planFile.fileName(), planFile.errorString()));
        return kFailure;
    }
    QString why;
    const auto plan = v::parsePlan(planFile.read(v::kMaxPlanBytes + 1), &why);
    if (!plan) return fail(why), kFailure;

    const QString journalPath =
        o.journal.empty() ? defaultJournal() : QString::fromStdString(o.journal);
    QDir().mkpath(QFileInfo(journalPath).absolutePath());
    v::Journal journal;
    if (!journal.open(journalPath, &why)) return fail(why), kFailure;
    const QDate today = QDate::currentDate();
    const auto resolved = v::resolvePlan(
        *plan, journal,
        v::Date{std::chrono::year{today.year()}, std::chrono::month{unsigned(today.month())},
                std::chrono::day{unsigned(today.day())}},
        &why);
    if (!resolved) return fail(why), kFailure;
    for (const QString& warning : resolved->warnings) fail(warning);

    ScaledTime time;
    time.scale = o.timeScale;
    QueueOfEvents queue;
    BenchCore core(queue);
    Feed feed(time);
    core.addListener(&feed);
    Line& line = core.addLine();
    line.setPort(portPathFor(o.port));
    line.setBaud(o.baud);
    std::vector<std::pair<AnalyzerId, int>> batch;
    for (int number : plan->networkNumbers) {
        const auto id = line.addAnalyzer();
        if (!id) return fail("в линии нет места для стольких приборов"), kFailure;
        line.setAddress(*id, number);
        batch.push_back({*id, number});
    }
    std::signal(SIGINT, onVerifyInterrupt);
    std::signal(SIGTERM, onVerifyInterrupt);
    if (!line.connect()) return fail("опрос не запустился"), kPortError;

    // The batch's identity (factory number, gas, software) from each one's first reply.
    auto allAnswered = [&] {
        for (const auto& [id, number] : batch)
            if (!feed.latest.count(id)) return false;
        return true;
    };
    queue.drainUntil([&] { return allAnswered() || feed.lineError || interrupted; },
                     kFirstReplyLimitMs);
    if (!allAnswered()) {
        for (const auto& [id, number] : batch)
            if (!feed.latest.count(id)) fail(QStringLiteral("прибор %1 не отвечает").arg(number));
        line.disconnect(10000);
        return feed.lineError ? kPortError : kNoReply;
    }
    std::vector<v::AnalyzerInfo> infos;
    for (const auto& [id, number] : batch)
        infos.push_back(infoOf(id, number, feed.latest.at(id), resolved->method));

    const QString station =
        o.station.empty() ? QSysInfo::machineHostName() : QString::fromStdString(o.station);
    v::ProcedureStart start{QString::fromStdString(resolved->method.name),
                            resolved->method.version,
                            resolved->cylinderNumbers,
                            infos,
                            plan->conditions,
                            station};
    const auto procedureId = journal.beginProcedure(start);
    if (!procedureId) return fail(journal.lastError()), kFailure;
    v::JournalRecorder recorder(journal, *procedureId);
    EngineClock clock(time);
    CorePort port(core);
    v::Procedure procedure(resolved->method, resolved->cylinders, infos, clock, port, &recorder);
    feed.procedure = &procedure;
    std::vector<AnalyzerId> ids;
    for (const auto& entry : batch) ids.push_back(entry.first);

    // The procedure's own steps, until it ends or something stops it.
    QString stopReason;
    while (stopReason.isEmpty()) {
        const v::Phase phase = procedure.phase();
        if (phase == v::Phase::Finished) break;
        if (interrupted) {
            stopReason = "прервано";
        } else if (phase == v::Phase::AwaitGas) {
            const int point = procedure.point();
            const v::Cylinder& c = resolved->cylinders.at(std::size_t(point));
            const QString prompt = QStringLiteral("Точка %1: подайте газ из баллона %2 (%3 %4)")
                                       .arg(point + 1)
                                       .arg(QString::fromStdString(c.number))
                                       .arg(c.certified)
                                       .arg(v::unitText(c.unit));
            const bool applied =
                o.gasCommand.empty()
                    ? askOperator(queue, prompt)
                    : runGasCommand(queue, QString::fromStdString(o.gasCommand), point, c);
            if (!applied) {
                stopReason = "газ не подан";
            } else {
                line.setFocus(ids);
                procedure.confirmGas();
            }
        } else if (phase == v::Phase::PointDone) {
            line.setFocus({});
            procedure.next();
        } else {
            queue.drainUntil([] { return bool(interrupted); }, kSliceMs);
            procedure.tick();
            if (!line.isPolling()) stopReason = "опрос линии прекратился";
        }
    }
    line.setFocus({});
    if (!stopReason.isEmpty()) {
        fail(QStringLiteral("поверка остановлена: %1").arg(stopReason));
        procedure.stop();
    }
    feed.procedure = nullptr;
    line.disconnect(10000);
    const bool stopped = procedure.phase() == v::Phase::Stopped;

    // Protocols, the summary and the journal's end.
    QDir().mkpath(QString::fromStdString(o.out));
    const QDir out(QString::fromStdString(o.out));
    const QDateTime now = QDateTime::currentDateTime();
    v::SummaryData summary{plan->lab,
                           station,
                           plan->conditions,
                           now,
                           QString::fromStdString(resolved->method.name),
                           resolved->method.version,
                           {}};
    Json result = Json::object();
    result["procedure"] = *procedureId;
    result["stopped"] = stopped;
    result["analyzers"] = Json::array();
    bool allPass = true;
    int status = kOk;
    for (const v::AnalyzerInfo& info : infos) {
        const v::Verdict verdict = procedure.verdict(info.id);
        allPass = allPass && verdict.pass;
        v::ProtocolData data{};
        data.number = v::protocolNumber(station, now.date().year(),
                                        journal.nextProtocolSequence(station, now.date().year()));
        data.lab = plan->lab;
        data.station = station;
        data.conditions = plan->conditions;
        data.date = now;
        data.analyzer = info;
        data.method = resolved->method;
        data.cylinders = resolved->cylinders;
        data.results = procedure.results(info.id);
        data.verdict = verdict;
        data.stopped = stopped;
        const QByteArray pdf = v::protocolPdf(data, &why);
        const QString file = out.filePath(data.number + ".pdf");
        QFile f(file);
        if (pdf.isEmpty() || !f.open(QIODevice::WriteOnly) || f.write(pdf) != pdf.size() ||
            !journal.addProtocol(*procedureId, data.number, info.factoryNumber, verdict.pass,
                                 pdf)) {
            fail(
                QStringLiteral("протокол %1 не записан: %2")
                    .arg(data.number, pdf.isEmpty() ? why : f.errorString() + journal.lastError()));
            status = kFailure;
        }
        summary.lines.push_back({data.number, info, verdict});
        Json entry{{"address", info.networkNumber},
                   {"factoryNumber", info.factoryNumber},
                   {"verdict", verdict.pass ? "годен" : "не годен"},
                   {"failed", verdict.failed},
                   {"protocol", data.number.toStdString()},
                   {"file", file.toStdString()}};
        result["analyzers"].push_back(entry);
        if (!o.json) {
            std::string failed;
            for (const std::string& item : verdict.failed) failed += "; " + item;
            std::printf("%d (зав. № %d): %s%s\n  протокол %s: %s\n", info.networkNumber,
                        info.factoryNumber, verdict.pass ? "годен" : "не годен", failed.c_str(),
                        data.number.toUtf8().constData(), file.toUtf8().constData());
        }
    }
    const QString base = out.filePath(QStringLiteral("summary-%1").arg(*procedureId));
    const QByteArray summaryPdf = v::summaryPdf(summary, &why);
    QFile pdfFile(base + ".pdf"), csvFile(base + ".csv");
    if (summaryPdf.isEmpty() || !pdfFile.open(QIODevice::WriteOnly) ||
        pdfFile.write(summaryPdf) != summaryPdf.size() || !csvFile.open(QIODevice::WriteOnly) ||
        csvFile.write(v::summaryCsv(summary)) < 0) {
        fail(QStringLiteral("сводка не записана: %1").arg(summaryPdf.isEmpty() ? why : base));
        status = kFailure;
    }
    result["summary"] = Json::array({(base + ".pdf").toStdString(), (base + ".csv").toStdString()});
    if (!journal.endProcedure(*procedureId, stopped ? "stopped" : "finished")) {
        fail(journal.lastError());
        status = kFailure;
    }
    if (o.json)
        std::printf("%s\n", jsonLine(result).c_str());
    else
        std::printf("сводка: %s.pdf, %s.csv\n", base.toUtf8().constData(),
                    base.toUtf8().constData());
    std::fflush(stdout);
    if (stopped) return kFailure;
    return status != kOk ? status : allPass ? kOk : kVerdictFailed;
}

}  // namespace zta::bus

int runVerify(int argc, char** argv) { return zta::bus::verify(argc, argv); }
