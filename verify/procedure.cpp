// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/procedure.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

#include "verify/texts.h"

namespace zta::verify {

const char* commandText(Command command) {
    switch (command) {
        case Command::Zero:
            return "Установка нуля";
        case Command::SpanMiddle:
            return "Калибровка по средней концентрации";
        case Command::SpanHigh:
            return "Калибровка по максимальной концентрации";
    }
    return "";
}

const char* statusText(PointStatus status) {
    switch (status) {
        case PointStatus::Done:
            return "измерено";
        case PointStatus::NoContact:
            return "нет связи";
        case PointStatus::NotSettled:
            return "не установилось";
    }
    return "";
}

Procedure::Procedure(Method method, std::vector<Cylinder> cylinders,
                     std::vector<AnalyzerInfo> analyzers, const Clock& clock, CommandPort& commands,
                     ProcedureListener* listener)
    : method_(std::move(method)),
      cylinders_(std::move(cylinders)),
      clock_(clock),
      commands_(commands),
      listener_(listener) {
    for (AnalyzerInfo& info : analyzers) {
        if (tracks_.count(info.id)) continue;
        order_.push_back(info.id);
        tracks_[info.id].info = std::move(info);
    }
}

void Procedure::setPhase(Phase phase) {
    phase_ = phase;
    if (listener_) listener_->onPhase(phase_, point_);
}

double Procedure::certifiedLel(int point) const {
    if (point < 0 || point >= int(cylinders_.size())) return NAN;
    const Cylinder& c = cylinders_[point];
    return toLel(c.certified, c.unit, method_.gasCode).value_or(NAN);
}

void Procedure::onReading(AnalyzerId id, double steadyTime, std::int64_t wallMs,
                          const ReadingValues& values, bool contact) {
    std::lock_guard lock(mutex_);
    auto it = tracks_.find(id);
    if (it == tracks_.end() || phase_ == Phase::Stopped || phase_ == Phase::Finished) return;
    Track& t = it->second;
    if (!contact) {
        // What it read before going silent says nothing of where its relays switched since.
        t.last.reset();
        // A silence that began before the point belongs to the one before it.
        if (t.measuring && steadyTime >= t.since) finish(t, PointStatus::NoContact);
        advance(clock_.now());
        return;
    }
    if (!t.firstReply) t.firstReply = steadyTime;
    const Sample sample{steadyTime, values.concentration, values.relay1, values.relay2};
    t.last = sample;
    if (t.measuring && steadyTime >= t.since) {
        if (listener_) listener_->onRawReading(id, point_, t.after, steadyTime, wallMs, values);
        t.samples.push_back(sample);
        if (!t.settled &&
            settledAt(t.samples, t.since, steadyTime, rangeLel(method_), method_.settle))
            t.settled = steadyTime;
        if (t.settled) {
            t.taken.push_back(values.concentration);
            if (int(t.taken.size()) >= method_.averageCount) finish(t, PointStatus::Done);
        }
    }
    advance(clock_.now());
}

void Procedure::tick() {
    std::lock_guard lock(mutex_);
    advance(clock_.now());
}

void Procedure::advance(double now) {
    if (phase_ == Phase::Warmup) {
        const bool warm = std::all_of(tracks_.begin(), tracks_.end(), [&](const auto& entry) {
            const auto& first = entry.second.firstReply;
            return first && now >= *first + method_.warmupS;
        });
        if (warm) setPhase(Phase::AwaitGas);
        return;
    }
    if (phase_ != Phase::Measuring) return;
    bool any = false;
    for (auto& [id, t] : tracks_) {
        if (t.measuring && now - t.since > method_.settleTimeoutS)
            finish(t, PointStatus::NotSettled);
        any = any || t.measuring;
    }
    if (!any) setPhase(Phase::PointDone);
}

void Procedure::begin(Track& t, bool after, double now) {
    t.measuring = true;
    t.after = after;
    t.since = now;
    t.start = t.last;
    t.samples.clear();
    if (t.last) t.samples.push_back(*t.last);
    t.settled.reset();
    t.taken.clear();
}

void Procedure::finish(Track& t, PointStatus status) {
    t.measuring = false;
    PointResult r;
    r.point = point_;
    r.afterAdjustment = t.after;
    r.status = status;
    r.appliedAt = t.since;
    r.certifiedLel = certifiedLel(point_);
    r.readings = t.taken;
    if (status == PointStatus::Done) {
        r.averageLel = std::accumulate(t.taken.begin(), t.taken.end(), 0.0) / t.taken.size();
        r.averageUnit = fromLel(r.averageLel, t.info.unit, method_.gasCode).value_or(NAN);
        const ErrorLimit limit =
            point_ < int(method_.points.size()) ? method_.points[point_].limit : ErrorLimit{};
        r.error = pointError(r.averageLel, r.certifiedLel, limit, t.info.unit, method_.gasCode);
        if (!t.after) {
            if (point_ == method_.t90Point) {
                const double startLel = t.start ? t.start->lel : t.samples.front().lel;
                r.t90 = responseTime(t.samples, t.since, startLel, r.averageLel);
            }
            r.relay1Trip = relayTrip(t.samples, t.since, 1);
            r.relay2Trip = relayTrip(t.samples, t.since, 2);
        }
        for (const Sample& s : t.samples) {
            r.relay1Seen = r.relay1Seen || s.relay1;
            r.relay2Seen = r.relay2Seen || s.relay2;
        }
    }
    (t.after ? t.afterAdjustment : t.before)[point_] = r;
    t.samples.clear();
    t.taken.clear();
    if (listener_) listener_->onPointResult(t.info.id, r);
}

bool Procedure::confirmGas() {
    std::lock_guard lock(mutex_);
    if (phase_ != Phase::AwaitGas) return false;
    const double now = clock_.now();
    if (subset_.empty() && point_ == frontier_) frontier_ = point_ + 1;
    setPhase(Phase::Measuring);
    for (AnalyzerId id : order_) {
        if (!subset_.empty() && std::find(subset_.begin(), subset_.end(), id) == subset_.end())
            continue;
        Track& t = tracks_[id];
        t.before.erase(point_);
        t.afterAdjustment.erase(point_);
        begin(t, false, now);
    }
    advance(now);
    return true;
}

bool Procedure::adjust(const std::vector<AnalyzerId>& ids) {
    std::vector<std::pair<AnalyzerId, std::pair<Command, double>>> out;
    {
        std::lock_guard lock(mutex_);
        if (phase_ != Phase::PointDone || !method_.adjustmentAllowed) return false;
        const Adjustment a = method_.points[point_].adjustment;
        if (a == Adjustment::None || point_ >= int(cylinders_.size())) return false;
        const Command command = a == Adjustment::Zero         ? Command::Zero
                                : a == Adjustment::SpanMiddle ? Command::SpanMiddle
                                                              : Command::SpanHigh;
        const Cylinder& c = cylinders_[point_];
        // The analyzer's gas registers take volume fractions, whatever the cylinder's unit.
        const double value =
            command == Command::Zero
                ? 0.0
                : convert(c.certified, c.unit, Unit::VolumePercent, method_.gasCode).value_or(NAN);
        if (!std::isfinite(value)) return false;
        const double now = clock_.now();
        for (AnalyzerId id : ids) {
            auto it = tracks_.find(id);
            if (it == tracks_.end()) continue;
            Track& t = it->second;
            auto done = t.before.find(point_);
            if (done == t.before.end() || done->second.status != PointStatus::Done) continue;
            t.afterAdjustment.erase(point_);
            out.push_back({id, {command, value}});
            if (listener_) listener_->onCommand(id, command, value);
            begin(t, true, now);
        }
        if (out.empty()) return false;
        setPhase(Phase::Measuring);
    }
    for (const auto& [id, command] : out) commands_.send(id, command.first, command.second);
    return true;
}

bool Procedure::next() {
    std::lock_guard lock(mutex_);
    if (phase_ != Phase::PointDone && phase_ != Phase::AwaitGas) return false;
    if (phase_ == Phase::AwaitGas && frontier_ <= point_) return false;
    subset_.clear();
    point_ = frontier_;
    setPhase(point_ >= int(method_.points.size()) ? Phase::Finished : Phase::AwaitGas);
    return true;
}

bool Procedure::repeat(int point, const std::vector<AnalyzerId>& ids) {
    std::lock_guard lock(mutex_);
    if (phase_ != Phase::PointDone && phase_ != Phase::AwaitGas) return false;
    if (point < 0 || point >= frontier_) return false;
    for (AnalyzerId id : ids)
        if (!tracks_.count(id)) return false;
    subset_ = ids;
    point_ = point;
    setPhase(Phase::AwaitGas);
    return true;
}

void Procedure::stop() {
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::Stopped || phase_ == Phase::Finished) return;
    for (auto& [id, t] : tracks_) t.measuring = false;
    setPhase(Phase::Stopped);
}

bool Procedure::restore(AnalyzerId id, const PointResult& result) {
    std::lock_guard lock(mutex_);
    auto it = tracks_.find(id);
    if (phase_ != Phase::Warmup || it == tracks_.end() || result.point < 0 ||
        result.point >= int(method_.points.size()))
        return false;
    (result.afterAdjustment ? it->second.afterAdjustment : it->second.before)[result.point] =
        result;
    frontier_ = std::max(frontier_, result.point + 1);
    point_ = std::min(frontier_, int(method_.points.size()) - 1);
    return true;
}

Phase Procedure::phase() const {
    std::lock_guard lock(mutex_);
    return phase_;
}

int Procedure::point() const {
    std::lock_guard lock(mutex_);
    return point_;
}

std::vector<AnalyzerInfo> Procedure::analyzers() const {
    std::lock_guard lock(mutex_);
    std::vector<AnalyzerInfo> all;
    for (AnalyzerId id : order_) all.push_back(tracks_.at(id).info);
    return all;
}

std::optional<double> Procedure::warmupLeft(AnalyzerId id) const {
    std::lock_guard lock(mutex_);
    auto it = tracks_.find(id);
    if (it == tracks_.end() || !it->second.firstReply) return std::nullopt;
    return std::max(0.0, *it->second.firstReply + method_.warmupS - clock_.now());
}

std::vector<PointResult> Procedure::results(AnalyzerId id) const {
    std::lock_guard lock(mutex_);
    std::vector<PointResult> all;
    auto it = tracks_.find(id);
    if (it == tracks_.end()) return all;
    for (int p = 0; p < int(method_.points.size()); ++p) {
        for (const auto* side : {&it->second.before, &it->second.afterAdjustment}) {
            auto r = side->find(p);
            if (r != side->end()) all.push_back(r->second);
        }
    }
    return all;
}

Verdict Procedure::verdict(AnalyzerId id) const {
    std::lock_guard lock(mutex_);
    auto it = tracks_.find(id);
    if (it == tracks_.end()) return {false, {"прибор не в поверке"}};
    return verdictOf(it->second);
}

Verdict Procedure::verdictOf(const Track& t) const {
    Verdict v;
    auto fail = [&](std::string item) { v.failed.push_back(std::move(item)); };
    for (int p = 0; p < int(method_.points.size()); ++p) {
        const std::string name = "точка " + std::to_string(p + 1);
        auto after = t.afterAdjustment.find(p);
        auto before = t.before.find(p);
        const PointResult* r = after != t.afterAdjustment.end() ? &after->second
                               : before != t.before.end()       ? &before->second
                                                                : nullptr;
        if (!r)
            fail(name + ": не измерена");
        else if (r->status != PointStatus::Done)
            fail(name + ": " + statusText(r->status));
        else if (!r->error.pass)
            fail(name + ": погрешность " + number(r->error.errorLel, 2) + " %НКПР при пределе ±" +
                 number(r->error.limitLel, 2));
    }
    auto timed = t.before.find(method_.t90Point);
    if (timed != t.before.end() && timed->second.status == PointStatus::Done) {
        const auto& t90 = timed->second.t90;
        if (!t90)
            fail("t0,9: не измерено");
        else if (*t90 > method_.t90LimitS + 1e-9)
            fail("t0,9: " + number(*t90, 1) + " с при пределе " + number(method_.t90LimitS, 1) +
                 " с");
    }
    if (method_.checkThresholds) {
        const int thresholds[2] = {t.info.threshold1, t.info.threshold2};
        for (int relay = 1; relay <= 2; ++relay) {
            const int threshold = thresholds[relay - 1];
            if (threshold <= 0) continue;
            std::optional<double> trip;
            bool seen = false;
            double highest = -INFINITY;
            for (const auto& [p, r] : t.before) {
                if (r.status != PointStatus::Done) continue;
                if (!trip) trip = relay == 1 ? r.relay1Trip : r.relay2Trip;
                seen = seen || (relay == 1 ? r.relay1Seen : r.relay2Seen);
                highest = std::max(highest, r.averageLel);
            }
            const std::string name = "порог " + std::to_string(relay);
            if (trip && std::fabs(*trip - threshold) > method_.thresholdToleranceLel + 1e-9)
                fail(name + ": реле сработало при " + number(*trip, 1) + " %НКПР, порог " +
                     std::to_string(threshold));
            else if (!trip && seen)
                // It was on, but no reading saw it switch: the gas rose while it was silent.
                fail(name + ": срабатывание не измерено");
            else if (!trip && highest >= threshold + method_.thresholdToleranceLel)
                fail(name + ": реле не сработало");
        }
    }
    if (phase_ == Phase::Stopped) fail("поверка остановлена");
    v.pass = v.failed.empty();
    return v;
}

}  // namespace zta::verify
