// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/bus.h"

#include <algorithm>

#include "link/baud.h"
#include "sim/bus_impl.h"
#include "sim/control.h"

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace zta::sim {

namespace {

constexpr size_t kLogLimit = 200000;
constexpr auto kLateReply = std::chrono::seconds(1);
constexpr auto kMinSilence = std::chrono::milliseconds(20);
constexpr auto kWorkerOpTimeout = std::chrono::seconds(5);

}  // namespace

#ifndef _WIN32

void Bus::Impl::workerLoop() {
    uint8_t buf[512];
    for (;;) {
        std::vector<std::function<void()>> todo;
        int fd;
        {
            std::lock_guard lock(mu);
            if (stopping) break;
            todo.swap(ops);
        }
        if (!todo.empty()) {
            for (auto& op : todo) op();
            std::lock_guard lock(mu);
            opsDone += todo.size();
            changed.notify_all();
        }
        {
            std::lock_guard lock(mu);
            fd = masterFd;
        }

        Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> deadline;
        for (const auto& o : outputs)
            if (!deadline || o.due < *deadline) deadline = o.due;
        const auto silence = std::max<Clock::duration>(
            kMinSilence, std::chrono::microseconds(wireTimeUs(4, std::max(baudOf(fd), 1200u))));
        if (framer.pending() > 0 && (!deadline || lastByte + silence < *deadline))
            deadline = lastByte + silence;

        pollfd fds[2] = {{wakeRead, POLLIN, 0}, {fd, POLLIN, 0}};
        timespec ts{};
        timespec* tsp = nullptr;
        if (deadline) {
            const auto left = std::max<Clock::duration>(*deadline - now, Clock::duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            ts.tv_sec = static_cast<time_t>(ns / 1000000000);
            ts.tv_nsec = static_cast<long>(ns % 1000000000);
            tsp = &ts;
        }
        const int r = ppoll(fds, fd >= 0 ? 2 : 1, tsp, nullptr);
        if (r < 0 && errno != EINTR) {
            // Should never happen; a pause keeps a persistent failure from spinning.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (r > 0 && (fds[0].revents & POLLIN)) {
            while (::read(wakeRead, buf, sizeof buf) > 0) {
            }
        }
        now = Clock::now();
        if (fd >= 0 && r > 0 && fds[1].revents) {
            bool vanished = false;
            if (fds[1].revents & POLLIN) {
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0) {
                    framer.push(buf, static_cast<size_t>(n));
                    lastByte = now;
                } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                    vanished = true;
                }
            } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                vanished = true;
            }
            if (vanished) {
                // A device that went away: stop serving it until Replug rather than spin on it.
                closePort();
                continue;
            }
            while (auto request = framer.next()) handleRequest(*request, now, fd);
        }
        if (framer.pending() > 0 && now - lastByte >= silence) framer.clear();
        writeDue(fd, Clock::now());
    }
}

void Bus::Impl::handleRequest(const Request& request, Clock::time_point arrival, int fd) {
    const unsigned lineBaud = baudOf(fd);
    std::vector<LogEntry> entries;
    {
        std::lock_guard lock(mu);
        LogEntry entry;
        entry.bytes.assign(request.begin(), request.end());
        entry.lineBaud = lineBaud;
        entry.when = arrival;
        if (lineEchoMs >= 0) {
            Output copy;
            copy.due = arrival + std::chrono::microseconds(static_cast<long>(lineEchoMs * 1000));
            copy.bytes.assign(request.begin(), request.end());
            outputs.push_back(std::move(copy));
        }
        std::shared_ptr<Analyzer> target;
        for (const auto& a : analyzers)
            if (a->answers(request[0])) {
                target = a;
                break;
            }
        // A switched-off analyzer hears nothing, as if it were not on the line.
        if (!target || !target->powered()) {
            append(entries, std::move(entry));
        } else if (target->baud() != lineBaud) {
            entry.kind = LogEntry::Kind::Ignored;
            entry.address = request[0];
            append(entries, std::move(entry));
        } else {
            entry.address = request[0];
            append(entries, std::move(entry));
            target->countRequest();
            const Response response =
                target->respond(request, seconds(arrival), modelSeconds(arrival));
            const Fault fault = target->takeFault();
            // Silent: as if switched off; the request has no effect either.
            if (fault != Fault::Silent) {
                if (fault == Fault::EchoRequest) {
                    Output echo;
                    echo.due = arrival;
                    echo.bytes.assign(request.begin(), request.end());
                    outputs.push_back(std::move(echo));
                }
                Output o;
                o.bytes = Analyzer::distort(response.reply, fault, rng);
                o.due =
                    fault == Fault::LateReply
                        ? arrival + kLateReply
                        : arrival + std::chrono::microseconds(wireTimeUs(request.size(), lineBaud) +
                                                              wireTimeUs(o.bytes.size(), lineBaud));
                if (response.isWrite) {
                    o.analyzer = target;
                    o.address = request[0];
                    o.reg = response.reg;
                    o.value = response.value;
                    o.request.assign(request.begin(), request.end());
                    o.lineBaud = lineBaud;
                }
                outputs.push_back(std::move(o));
            }
        }
    }
    publish(entries);
}

void Bus::Impl::writeDue(int fd, Clock::time_point now) {
    // Stable order: an adapter's echo goes out before the reply due at the same moment.
    std::stable_sort(outputs.begin(), outputs.end(),
                     [](const Output& a, const Output& b) { return a.due < b.due; });
    std::vector<LogEntry> entries;
    size_t done = 0;
    for (; done < outputs.size() && outputs[done].due <= now; ++done) {
        Output& o = outputs[done];
        size_t off = 0;
        while (fd >= 0 && off < o.bytes.size()) {
            const ssize_t n = ::write(fd, o.bytes.data() + off, o.bytes.size() - off);
            if (n > 0) {
                off += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EAGAIN) {
                // Nobody reads the line and its queue is full: wait a little, then drop.
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, 100) <= 0) break;
            } else {
                break;
            }
        }
        if (o.analyzer) {
            std::lock_guard lock(mu);
            o.analyzer->applyWrite(o.reg, o.value, modelSeconds(Clock::now()));
            LogEntry entry;
            entry.kind = LogEntry::Kind::WriteApplied;
            entry.bytes = o.request;
            entry.address = o.address;
            entry.reg = o.reg;
            entry.value = o.value;
            entry.lineBaud = o.lineBaud;
            entry.when = Clock::now();
            append(entries, std::move(entry));
        }
    }
    outputs.erase(outputs.begin(), outputs.begin() + static_cast<long>(done));
    publish(entries);
}

#else  // _WIN32: the simulator serves pseudo-terminals, which this system does not have.

void Bus::Impl::workerLoop() {}
void Bus::Impl::handleRequest(const Request&, Clock::time_point, int) {}
void Bus::Impl::writeDue(int, Clock::time_point) {}

#endif

// Called with mu held.
void Bus::Impl::append(std::vector<LogEntry>& pending, LogEntry entry) {
    if (log.size() >= kLogLimit) log.erase(log.begin(), log.begin() + kLogLimit / 4);
    log.push_back(entry);
    if (sink) pending.push_back(std::move(entry));
    changed.notify_all();
}

void Bus::Impl::publish(const std::vector<LogEntry>& entries) {
    if (entries.empty()) return;
    std::function<void(const LogEntry&)> s;
    {
        std::lock_guard lock(mu);
        if (!sink) return;
        s = sink;
        ++sinkCalls;
    }
    for (const auto& e : entries) s(e);
    std::lock_guard lock(mu);
    --sinkCalls;
    changed.notify_all();
}

void Bus::Impl::runOnWorker(const std::function<void()>& op) {
    std::unique_lock lock(mu);
    if (!running) {
        lock.unlock();
        op();
        return;
    }
    ops.push_back(op);
    const uint64_t ticket = ++opsQueued;
    lock.unlock();
    wake();
    lock.lock();
    changed.wait_for(lock, kWorkerOpTimeout, [&] { return opsDone >= ticket; });
}

Bus::Bus(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Bus::~Bus() { stop(); }

std::unique_ptr<Bus> Bus::open(std::unique_ptr<Impl> impl, std::string* error) {
    if (!impl->openWakePipe(error) || !impl->openPort(error)) return nullptr;
    return std::unique_ptr<Bus>(new Bus(std::move(impl)));
}

std::unique_ptr<Bus> Bus::openPty(const std::string& linkPath, std::string* error) {
    auto impl = std::make_unique<Impl>();
    impl->linkPath = linkPath;
    return open(std::move(impl), error);
}

std::unique_ptr<Bus> Bus::openDevice(const std::string& path, std::string* error) {
    auto impl = std::make_unique<Impl>();
    impl->isDevice = true;
    impl->devicePath = path;
    return open(std::move(impl), error);
}

const std::string& Bus::portPath() const {
    std::lock_guard lock(impl_->mu);
    return impl_->portPath;
}

std::string Bus::slavePath() const {
    std::lock_guard lock(impl_->mu);
    return impl_->slavePath;
}

void Bus::addAnalyzer(const AnalyzerConfig& config) {
    std::lock_guard lock(impl_->mu);
    impl_->analyzers.push_back(
        std::make_shared<Analyzer>(config, impl_->nextSeed++, impl_->modelSeconds(Clock::now())));
}

bool Bus::removeAnalyzer(int address) {
    std::lock_guard lock(impl_->mu);
    auto& list = impl_->analyzers;
    const auto it =
        std::find_if(list.begin(), list.end(), [&](const auto& a) { return a->answers(address); });
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

bool Bus::setConcentration(int address, double percentLel) {
    std::lock_guard lock(impl_->mu);
    for (auto& a : impl_->analyzers)
        if (a->answers(address)) {
            if (a->config().wave == Wave::Gas)
                a->gas().setInlet(percentLel, impl_->modelSeconds(Clock::now()));
            else
                a->setConcentration(percentLel);
            return true;
        }
    return false;
}

void Bus::start() {
    std::lock_guard lock(impl_->mu);
    if (impl_->running) return;
    impl_->running = true;
    impl_->stopping = false;
    impl_->worker = std::thread([impl = impl_.get()] { impl->workerLoop(); });
    impl_->workerId = impl_->worker.get_id();
}

void Bus::stop() {
    {
        std::lock_guard lock(impl_->mu);
        if (!impl_->running) return;
        impl_->stopping = true;
    }
    impl_->wake();
    impl_->worker.join();
    // Requests that came in while the worker was ending are done here, so none is lost.
    std::vector<std::function<void()>> left;
    {
        std::lock_guard lock(impl_->mu);
        left.swap(impl_->ops);
    }
    for (auto& op : left) op();
    std::lock_guard lock(impl_->mu);
    impl_->opsDone += left.size();
    impl_->running = false;
    impl_->workerId = {};
    impl_->changed.notify_all();
}

void Bus::setTimeScale(double k) {
    std::lock_guard lock(impl_->mu);
    const auto now = Clock::now();
    impl_->modelBase = impl_->modelSeconds(now);
    impl_->scaleSince = now;
    impl_->timeScale = k;
}

std::string Bus::control(const std::string& line) {
    ControlCommand command;
    std::string error;
    if (!parseControlLine(line, &command, &error)) return controlRefusal(error);
    std::lock_guard lock(impl_->mu);
    const auto now = Clock::now();
    return runControl(command, impl_->analyzers, impl_->seconds(now), impl_->modelSeconds(now));
}

bool Bus::setFault(int address, Fault fault, int count) {
    std::lock_guard lock(impl_->mu);
    for (auto& a : impl_->analyzers)
        if (a->answers(address)) {
            a->setFault(fault, fault == Fault::None ? -1 : count);
            return true;
        }
    return false;
}

void Bus::setLineEcho(double ms) {
    std::lock_guard lock(impl_->mu);
    impl_->lineEchoMs = ms;
}

void Bus::unplug() {
    impl_->runOnWorker([impl = impl_.get()] { impl->closePort(); });
}

bool Bus::replug(std::string* error) {
    // The op owns its result: it outlives this call should the wait ever time out.
    struct Result {
        bool ok = false;
        std::string error = "the simulator did not answer";
    };
    auto result = std::make_shared<Result>();
    impl_->runOnWorker([result, impl = impl_.get()] {
        impl->closePort();
        std::string error;
        const bool ok = impl->openPort(&error);
        std::lock_guard lock(impl->mu);
        result->ok = ok;
        result->error = error;
    });
    std::lock_guard lock(impl_->mu);
    if (!result->ok && error) *error = result->error;
    return result->ok;
}

bool Bus::plugged() const {
    std::lock_guard lock(impl_->mu);
    return impl_->masterFd >= 0;
}

bool Bus::setDeviceBaud(unsigned baud, std::string* error) {
    if (!impl_->isDevice) {
        if (error) *error = "the line rate of a pseudo-terminal is the station's";
        return false;
    }
    auto ok = std::make_shared<bool>(false);
    impl_->runOnWorker([ok, baud, impl = impl_.get()] { *ok = impl->setDeviceRate(baud); });
    std::lock_guard lock(impl_->mu);
    if (!*ok && error) *error = "cannot set the line rate to " + std::to_string(baud);
    return *ok;
}

std::vector<LogEntry> Bus::log() const {
    std::lock_guard lock(impl_->mu);
    return impl_->log;
}

void Bus::clearLog() {
    std::lock_guard lock(impl_->mu);
    impl_->log.clear();
}

bool Bus::waitFor(std::function<bool(const std::vector<LogEntry>&)> pred, int timeoutMs) const {
    std::unique_lock lock(impl_->mu);
    return impl_->changed.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                                   [&] { return pred(impl_->log); });
}

std::optional<AnalyzerState> Bus::state(int address) const {
    std::lock_guard lock(impl_->mu);
    for (auto& a : impl_->analyzers)
        if (a->answers(address)) {
            const auto now = Clock::now();
            return a->state(impl_->seconds(now), impl_->modelSeconds(now));
        }
    return std::nullopt;
}

void Bus::setLogSink(std::function<void(const LogEntry&)> sink) {
    std::unique_lock lock(impl_->mu);
    impl_->sink = std::move(sink);
    // Once this returns the old sink is never running, so whatever it refers to may go; from
    // inside a sink (the worker itself) there is nothing to wait for.
    if (impl_->workerId == std::this_thread::get_id()) return;
    impl_->changed.wait(lock, [&] { return impl_->sinkCalls == 0; });
}

}  // namespace zta::sim
