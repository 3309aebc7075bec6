// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The verification of a batch of analyzers, step by step: warm-up, then for each point the
// operator's "Газ подан", settling, averaging, error, response time and relay trips, with an
// optional adjustment and the measurement after it. No widgets and no clock of its own: the
// guided window and the command line drive the same engine, each with its clock, and feed it
// the readings the station takes.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "verify/measure.h"
#include "verify/models.h"

namespace zta::verify {

using AnalyzerId = std::int64_t;

struct AnalyzerInfo {
    AnalyzerId id = 0;
    int factoryNumber = 0;
    int networkNumber = 0;
    int gasCode = 0;
    Unit unit = Unit::Lel;
    double range = 100.0;  // in `unit`
    std::string softwareVersion;
    std::string softwareId;
    int threshold1 = 0;  // %НКПР; 0: no threshold set
    int threshold2 = 0;
};

struct ReadingValues {
    double concentration = 0.0;  // %НКПР, as the analyzer reports it
    bool relay1 = false;
    bool relay2 = false;
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual double now() const = 0;  // steady seconds, the same clock as the readings' times
};

enum class Command { Zero, SpanMiddle, SpanHigh };
const char* commandText(Command command);

// Where an adjustment goes out: the station's command service, with its confirmations and audit.
class CommandPort {
  public:
    virtual ~CommandPort() = default;
    // `value`: the certified concentration in volume percent for a span, 0 for a zero.
    virtual void send(AnalyzerId analyzer, Command command, double value) = 0;
};

enum class Phase { Warmup, AwaitGas, Measuring, PointDone, Finished, Stopped };

enum class PointStatus { Done, NoContact, NotSettled };
const char* statusText(PointStatus status);  // "измерено", "нет связи", "не установилось"

struct PointResult {
    int point = 0;
    bool afterAdjustment = false;
    PointStatus status = PointStatus::Done;
    double appliedAt = 0.0;  // steady seconds: gas applied, or the adjustment sent
    double certifiedLel = 0.0;
    std::vector<double> readings;  // the averaged ones, %НКПР
    double averageLel = 0.0;
    double averageUnit = 0.0;  // in the analyzer's unit
    PointError error;
    std::optional<double> t90;
    std::optional<double> relay1Trip;  // %НКПР
    std::optional<double> relay2Trip;
    bool relay1Seen = false;  // on in some reading of the measurement
    bool relay2Seen = false;
};

struct Verdict {
    bool pass = false;
    std::vector<std::string> failed;  // the failed items, in the operator's words
};

// Told of everything worth keeping; called with the engine's lock held, so it must not call
// back into the engine.
class ProcedureListener {
  public:
    virtual ~ProcedureListener() = default;
    virtual void onRawReading(AnalyzerId, int /*point*/, bool /*afterAdjustment*/,
                              double /*steadyTime*/, std::int64_t /*wallMs*/,
                              const ReadingValues&) {}
    virtual void onPointResult(AnalyzerId, const PointResult&) {}
    virtual void onPhase(Phase, int /*point*/) {}
    virtual void onCommand(AnalyzerId, Command, double /*value*/) {}
};

class Procedure {
  public:
    // `cylinders`: one per point of the method, already checked against it.
    Procedure(Method method, std::vector<Cylinder> cylinders, std::vector<AnalyzerInfo> analyzers,
              const Clock& clock, CommandPort& commands, ProcedureListener* listener = nullptr);

    // Every reading the station takes of an analyzer of the batch (others are ignored);
    // `contact` false when the analyzer stopped answering.
    void onReading(AnalyzerId id, double steadyTime, std::int64_t wallMs,
                   const ReadingValues& values, bool contact);
    // Lets time pass without readings: ends the warm-up, gives up on a reading that never settles.
    void tick();

    // The operator's "Газ подан" for the current point.
    bool confirmGas();
    // Adjusts these analyzers at the point just measured, then measures them again.
    bool adjust(const std::vector<AnalyzerId>& ids);
    // On to the next point not yet measured (or to the end).
    bool next();
    // Measures `point` again, for `ids` only (all when empty), once gas is confirmed.
    bool repeat(int point, const std::vector<AnalyzerId>& ids);
    void stop();
    // Before the warm-up ends: takes back a result of an interrupted run of the same batch, so
    // that the procedure goes on after the last point it had reached.
    bool restore(AnalyzerId id, const PointResult& result);

    Phase phase() const;
    int point() const;
    const Method& method() const { return method_; }
    const std::vector<Cylinder>& cylinders() const { return cylinders_; }
    std::vector<AnalyzerInfo> analyzers() const;
    // Seconds of warm-up left; nothing before the analyzer's first reply.
    std::optional<double> warmupLeft(AnalyzerId id) const;
    std::vector<PointResult> results(AnalyzerId id) const;
    Verdict verdict(AnalyzerId id) const;

  private:
    struct Track {
        AnalyzerInfo info;
        std::optional<double> firstReply;
        std::optional<Sample> last;
        bool measuring = false;
        bool after = false;
        double since = 0.0;
        std::optional<Sample> start;
        std::vector<Sample> samples;
        std::optional<double> settled;
        std::vector<double> taken;
        std::map<int, PointResult> before;
        std::map<int, PointResult> afterAdjustment;
    };

    void setPhase(Phase phase);
    void advance(double now);
    void begin(Track& track, bool after, double now);
    void finish(Track& track, PointStatus status);
    double certifiedLel(int point) const;
    Verdict verdictOf(const Track& track) const;

    mutable std::mutex mutex_;
    const Method method_;
    const std::vector<Cylinder> cylinders_;
    const Clock& clock_;
    CommandPort& commands_;
    ProcedureListener* listener_;
    std::map<AnalyzerId, Track> tracks_;
    std::vector<AnalyzerId> order_;
    Phase phase_ = Phase::Warmup;
    int point_ = 0;
    int frontier_ = 0;                // the first point the whole batch has not been taken to
    std::vector<AnalyzerId> subset_;  // a repeat's analyzers; empty: all
};

}  // namespace zta::verify
