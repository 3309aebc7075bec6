// SPDX-License-Identifier: GPL-3.0-or-later
// zta-bus verify end to end: ten analyzers of zta-sim on a pseudo-terminal, the gas switched
// through the simulator's control socket by the bench's gas command, the gas model and the
// engine's clock both running faster by the same factor.
#if defined(ZTA_BUS_PROGRAM) && defined(ZTA_SIM_PROGRAM)

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <map>
#include <string>

#include "pdf_tools.h"
#include "program_run.h"
#include "verify/journal.h"

namespace zta::verify {
namespace {

// The sensors' t0.9 of 30 s in the model is 10 s on the line; at 19200 baud the ten focused
// analyzers are each read about every 0.4 s, so the rise is sampled some twenty-five times.
constexpr int kTimeScale = 3;

// zta-sim as its own process, until the test ends.
class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        // The first line names the port, once the line and the control socket are there.
        if (FILE* f = fdopen(out[0], "r")) {
            char line[512] = {};
            ready_ = std::fgets(line, sizeof line, f) != nullptr &&
                     std::string(line).rfind("port: ", 0) == 0;
            out_ = f;
        }
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_) std::fclose(out_);
    }
    bool ready() const { return ready_; }

  private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    bool ready_ = false;
};

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

TEST(BusVerify, TenSimulatedAnalyzersGetTheirVerdictsAndProtocols) {
    needGui();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string base = dir.path().toStdString();

    // The method as a lab would keep it, with a short warm-up so the run stays short.
    const QString journalPath = dir.filePath("journal.sqlite");
    {
        Journal journal;
        QString error;
        ASSERT_TRUE(journal.open(journalPath, &error)) << error.toStdString();
        Method method = defaultMethod("МП-К7 метан", 1, 100, Unit::Lel);
        method.warmupS = 60;
        method.t90LimitS = 45;
        ASSERT_TRUE(journal.saveMethod(method));
        ASSERT_EQ(method.version, 1);
    }

    std::vector<std::string> simArgs = {ZTA_SIM_PROGRAM,
                                        "--link",
                                        base + "/line",
                                        "--control",
                                        base + "/ctl",
                                        "--time-scale",
                                        std::to_string(kTimeScale)};
    for (int address = 1; address <= 10; ++address) {
        std::string a =
            "address=" + std::to_string(address) +
            ",baud=19200,wave=gas,gas=1,t90=30,warmup=0,factory=" + std::to_string(5000 + address);
        if (address == 2) a += ",offset=8";  // outside the 5 %НКПР
        if (address == 3) a += ",sensor=slow";
        if (address == 4) a += ",relay=dead";
        simArgs.insert(simArgs.end(), {"--analyzer", a});
    }
    SimProcess sim(simArgs);
    ASSERT_TRUE(sim.ready());

    // The bench's gas switch: the simulator's inlets; analyzer 5 goes silent in point 2 and
    // answers again before point 3.
    const std::string ctl = std::string(ZTA_SIM_PROGRAM) + " ctl " + base + "/ctl ";
    ASSERT_TRUE(
        writeFile(dir.filePath("gas.sh"),
                  QByteArray::fromStdString("set -e\n"
                                            "if [ \"$ZTA_POINT\" = 3 ]; then " +
                                            ctl + "power on --to 5 >/dev/null; fi\n" + ctl +
                                            "gas \"$ZTA_CONCENTRATION\" \"$ZTA_UNIT\" >/dev/null\n"
                                            "if [ \"$ZTA_POINT\" = 2 ]; then " +
                                            ctl + "power off --to 5 >/dev/null; fi\n")));
    ASSERT_TRUE(writeFile(dir.filePath("plan.json"), R"({
  "method": {"name": "МП-К7 метан", "version": 1},
  "cylinders": [
    {"number": "ВОЗДУХ", "gas": 0, "certified": 0, "unit": "vol", "uncertainty": 0,
     "certificate": "-", "made": "2026-01-10", "expires": "2099-01-10"},
    {"number": "Б-2200", "gas": 1, "certified": 2.2, "unit": "vol", "uncertainty": 1.5,
     "uncertaintyRelative": true, "certificate": "ПС-1", "made": "2026-03-02",
     "expires": "2099-09-01"},
    {"number": "Б-4471", "gas": 1, "certified": 3.96, "unit": "vol", "uncertainty": 1.5,
     "uncertaintyRelative": true, "certificate": "ПС-2026-118", "made": "2026-03-02",
     "expires": "2099-09-01"}
  ],
  "analyzers": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10],
  "operator": "Иванова А. С.",
  "lab": "Лаборатория газового контроля",
  "conditions": {"temperature": "21.5 °C", "pressure": "100.8 кПа", "humidity": "48 %"}
})"));

    const testing::ProgramRun run = testing::runProgram(
        std::string(ZTA_BUS_PROGRAM) + " verify --plan " + base + "/plan.json --port " + base +
        "/line --baud 19200 --journal " + journalPath.toStdString() + " --gas-command 'sh " + base +
        "/gas.sh' --out " + base + "/out --station ST --json --time-scale " +
        std::to_string(kTimeScale) + " < /dev/null");
    EXPECT_EQ(run.status, 7) << "verified, not every one passed\n" << run.out;
    const QJsonObject result = QJsonDocument::fromJson(QByteArray::fromStdString(run.out)).object();
    const QJsonArray analyzers = result["analyzers"].toArray();
    ASSERT_EQ(analyzers.size(), 10) << run.out;

    const QString year = QString::number(QDate::currentDate().year());
    const std::map<int, std::vector<std::string>> failures = {
        {2,
         {"точка 1: погрешность 8.00 %НКПР при пределе ±5.00",
          "точка 2: погрешность 8.00 %НКПР при пределе ±5.00",
          "точка 3: погрешность 8.00 %НКПР при пределе ±5.00"}},
        {4, {"порог 1: реле не сработало", "порог 2: реле не сработало"}},
        // Back at point 3 with the gas it sensed while silent: no reading saw its relays switch.
        {5,
         {"точка 2: нет связи", "порог 1: срабатывание не измерено",
          "порог 2: срабатывание не измерено"}},
    };
    for (int i = 0; i < 10; ++i) {
        const QJsonObject a = analyzers[i].toObject();
        const int address = i + 1;
        SCOPED_TRACE(address);
        EXPECT_EQ(a["address"].toInt(), address);
        EXPECT_EQ(a["factoryNumber"].toInt(), 5000 + address);
        EXPECT_EQ(a["protocol"].toString(), "ST-" + year + "-" + QString::number(address));
        std::vector<std::string> failed;
        for (const QJsonValue& item : a["failed"].toArray())
            failed.push_back(item.toString().toStdString());
        if (address == 3) {
            // The slow sensor: only its response time, some two minutes in the model's time.
            ASSERT_EQ(failed.size(), 1u) << run.out;
            EXPECT_EQ(failed[0].rfind("t0,9: ", 0), 0u) << failed[0];
        } else {
            const auto expected = failures.find(address);
            EXPECT_EQ(failed,
                      expected == failures.end() ? std::vector<std::string>{} : expected->second);
        }
        EXPECT_EQ(a["verdict"].toString(), failed.empty() ? "годен" : "не годен");
    }

    // A failed analyzer's protocol as it was written, and the same bytes in the journal.
    QFile file(analyzers[1].toObject()["file"].toString());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray pdf = file.readAll();
    const QString text = archivalText(pdf);
    for (const QString& expected :
         {"Протокол поверки № ST-" + year + "-2", QStringLiteral("заводской № 5002, сетевой № 2"),
          QStringLiteral("МП-К7 метан, версия 1"), QStringLiteral("Б-4471"),
          QStringLiteral("Иванова А. С."), QStringLiteral("Заключение: не годен"),
          QStringLiteral("точка 1: погрешность 8.00 %НКПР при пределе ±5.00")})
        EXPECT_TRUE(text.contains(expected)) << expected.toStdString() << "\n"
                                             << text.toStdString();
    Journal journal;
    QString error;
    ASSERT_TRUE(journal.open(journalPath, &error)) << error.toStdString();
    Journal::Filter filter;
    filter.factoryNumber = 5002;
    const auto stored = journal.protocols(filter);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].pdf, pdf);
    EXPECT_TRUE(journal.interrupted().empty()) << "the procedure's end is recorded";
    EXPECT_TRUE(journal.check().empty());
}

}  // namespace
}  // namespace zta::verify

#endif
