// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/bus_search.h"

#include "app/station_bridge.h"
#include "poll/worker.h"

namespace zta {

namespace {
constexpr int kFailureWaitMs = 10000;
}  // namespace

class BusSearch::Run : public zta::SearchSink {
  public:
    Run(BusSearch& search, int id) : search_(search), id_(id) {}
    ~Run() override {
        params.requestStop();
        worker.waitFinished(kFailureWaitMs);
    }

    void progress(int number) override {
        post([number](BusSearch* s, int id) { s->onProgress(id, number); });
    }
    void finished() override {
        post([](BusSearch* s, int id) { s->onFinished(id); });
    }
    void lineFailed() override {
        post([](BusSearch* s, int id) { s->onLineFailed(id); });
    }
    void showError(const std::string& text, const std::string& caption) override {
        search_.bridge_.showError(text, caption);
    }

    int id() const { return id_; }

    zta::SearchParams params;
    zta::WorkerThread worker;

  private:
    template <typename Call>
    void post(Call call) {
        BusSearch* s = &search_;
        const int id = id_;
        search_.bridge_.post([s, id, call] { call(s, id); });
    }

    BusSearch& search_;
    int id_;
};

BusSearch::BusSearch(UiBridge& bridge, QObject* parent) : QObject(parent), bridge_(bridge) {}

BusSearch::~BusSearch() = default;

bool BusSearch::start(const std::string& portPath, unsigned baud, const zta::LineOptions& options,
                      const zta::PortFactory& factory) {
    if (run_) return false;
    auto run = std::make_unique<Run>(*this, ++lastId_);
    run->params.prepare(portPath, baud);
    Run* r = run.get();
    if (!r->worker.start(
            [r, options, factory] { zta::searchThreadProc(r->params, *r, options, factory); }))
        return false;
    run_ = std::move(run);
    return true;
}

bool BusSearch::isCurrent(int run) const { return run_ && run_->id() == run; }

const zta::SearchParams* BusSearch::params() const {
    if (run_) return &run_->params;
    return lastRun_ ? &lastRun_->params : nullptr;
}

bool BusSearch::stop(int timeoutMs) {
    if (!run_) return true;
    run_->params.requestStop();
    // Even after its end report the thread is waited for: results are read only once nothing
    // can write them any more.
    if (!bridge_.waitForWorker(run_->worker, timeoutMs)) return false;
    lastRun_ = std::move(run_);
    return true;
}

void BusSearch::stopOrAbandon(int timeoutMs) {
    if (!run_ || stop(timeoutMs)) return;
    abandoned_.push_back(std::move(run_));
}

void BusSearch::onProgress(int run, int number) {
    if (isCurrent(run)) emit progress(number);
}

void BusSearch::onFinished(int run) {
    if (isCurrent(run)) emit finished(run);
}

void BusSearch::onLineFailed(int run) {
    if (!isCurrent(run)) return;
    stopOrAbandon(kFailureWaitMs);
    emit lineFailed();
}

}  // namespace zta
