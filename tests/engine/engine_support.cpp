// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/engine_support.h"

#include <chrono>
#include <sstream>

#include "quiet_port.h"

namespace zta::test {

Bytes readReply(uint8_t address, size_t length, uint8_t gasCode, int concentration) {
    Bytes r(length, 0);
    r[0] = address;
    r[1] = kFnReadInput;
    r[2] = static_cast<uint8_t>(length - 5);
    r[3] = gasCode;
    r[4] = 1;  // relays: health
    r[5] = static_cast<uint8_t>(concentration >> 8);
    r[6] = static_cast<uint8_t>(concentration);
    r[7] = 20;  // threshold 1
    r[8] = 50;  // threshold 2
    r[17] = 0;
    r[18] = 25;  // temperature
    r[19] = 0x04;
    r[20] = 0xD2;  // factory number 1234
    r[21] = 0xA5;
    r[22] = 12;  // version 1.2
    if (length == kLongReplyLength) {
        const std::string text = "440 270 440 CH4 %";
        for (size_t i = 0; i < kTextBlockLength; ++i)
            r[kTextBlockOffset + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
    }
    sealFrame(r.data(), r.size());
    return r;
}

Bytes exception(uint8_t address, uint8_t function, uint8_t code) {
    Bytes r{address, function, code, 0, 0};
    sealFrame(r.data(), r.size());
    return r;
}

Bytes echo(const Request& request) { return Bytes(request.begin(), request.end()); }

Bytes hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string byte;
    while (in >> byte) out.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
    return out;
}

class FakePort : public zta::testing::QuietPort {
  public:
    explicit FakePort(FakeWire& wire) : wire_(wire) {}

    OpenResult open(const std::string&, unsigned, DirectionSetting, DirectionMode& mode) override {
        std::lock_guard lock(wire_.mutex_);
        ++wire_.openAttempts_;
        if (!wire_.present_) return {OpenFailure::WrongPort, 2};
        if (!wire_.openResult_.ok()) return wire_.openResult_;
        ++wire_.opens_;
        vanished_ = false;
        mode = DirectionMode::Driver;
        return {};
    }

    bool write(const uint8_t* data, size_t length) override {
        FakeWire::Responder responder;
        Request request{};
        {
            std::lock_guard lock(wire_.mutex_);
            if (!wire_.present_) {
                vanished_ = true;
                return false;
            }
            if (wire_.writeFails_ || length != request.size()) return false;
            std::copy(data, data + length, request.begin());
            wire_.requests_.push_back(request);
            responder = wire_.responder_;
        }
        wire_.changed_.notify_all();
        // What is still unread from the last exchange waits for the drop before the reply.
        waiting_ = std::move(pending_);
        pending_.clear();
        if (responder) {
            if (auto reply = responder(request)) pending_ = *reply;
        }
        return true;
    }

    size_t read(uint8_t* buffer, size_t length, int) override {
        {
            std::lock_guard lock(wire_.mutex_);
            if (!wire_.present_) {
                vanished_ = true;
                return 0;
            }
        }
        const size_t n = std::min(length, pending_.size());
        std::copy_n(pending_.begin(), n, buffer);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(n));
        return n;
    }

    size_t takeInput(std::vector<uint8_t>& dropped) override {
        dropped.swap(waiting_);
        waiting_.clear();
        return dropped.size();
    }

    bool vanished() const override { return vanished_; }

  private:
    FakeWire& wire_;
    Bytes pending_;
    Bytes waiting_;
    bool vanished_ = false;
};

void FakeWire::setResponder(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

void FakeWire::setOpenResult(OpenResult result) {
    std::lock_guard lock(mutex_);
    openResult_ = result;
}

void FakeWire::setPresent(bool present) {
    std::lock_guard lock(mutex_);
    present_ = present;
}

void FakeWire::setWriteFails(bool fails) {
    std::lock_guard lock(mutex_);
    writeFails_ = fails;
}

std::vector<Request> FakeWire::requestsIn() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int FakeWire::opens() const {
    std::lock_guard lock(mutex_);
    return opens_;
}

int FakeWire::openAttempts() const {
    std::lock_guard lock(mutex_);
    return openAttempts_;
}

bool FakeWire::waitRequests(size_t n, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return requests_.size() >= n; });
}

std::unique_ptr<SerialPort> FakeWire::makePort() { return std::make_unique<FakePort>(*this); }

void RecordingSink::dataChanged(const SlotUpdate& update) {
    std::function<void(AnalyzerId, int)> hook;
    {
        std::lock_guard lock(mutex_);
        record_.data.push_back({update.data.analyzer, update.slot, update.data});
        hook = onData_;
    }
    changed_.notify_all();
    if (hook) hook(update.data.analyzer, update.slot);
}

void RecordingSink::baudAccepted(AnalyzerId view, int baudCode, int address) {
    {
        std::lock_guard lock(mutex_);
        record_.baud.push_back({view, baudCode, address});
    }
    changed_.notify_all();
}

void RecordingSink::lineFailed() {
    {
        std::lock_guard lock(mutex_);
        ++record_.lineFailed;
    }
    changed_.notify_all();
}

void RecordingSink::showError(const std::string& text, const std::string& caption) {
    {
        std::lock_guard lock(mutex_);
        record_.boxes.push_back({text, caption});
    }
    changed_.notify_all();
}

RecordingSink::Record RecordingSink::get() const {
    std::lock_guard lock(mutex_);
    return record_;
}

bool RecordingSink::waitUntil(const std::function<bool(const Record&)>& pred, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return pred(record_); });
}

void RecordingSink::onData(std::function<void(AnalyzerId, int)> hook) {
    std::lock_guard lock(mutex_);
    onData_ = std::move(hook);
}

}  // namespace zta::test
