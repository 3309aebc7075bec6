// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A scripted serial port and a recording poll sink for the engine tests.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/modbus.h"
#include "link/serial_port.h"
#include "poll/poll_block.h"
#include "poll/poll_sink.h"

namespace zta::test {

using Bytes = std::vector<uint8_t>;

// A 25- or 55-byte read reply from `address` with a few recognisable readings.
Bytes readReply(uint8_t address, size_t length, uint8_t gasCode = 1, int concentration = 20);
Bytes exception(uint8_t address, uint8_t function, uint8_t code);
Bytes echo(const Request& request);
Bytes hex(const std::string& text);  // "01 04 00 01" -> bytes

// The far end of a FakePort. Every member is guarded; the responder runs without the lock.
class FakeWire {
  public:
    // What comes back for a request; nullopt: silence.
    using Responder = std::function<std::optional<Bytes>(const Request&)>;

    void setResponder(Responder responder);
    void setOpenResult(OpenResult result);
    void setPresent(bool present);  // false: the adapter is unplugged
    void setWriteFails(bool fails);

    std::vector<Request> requestsIn() const;
    int opens() const;
    int openAttempts() const;
    // Waits until at least n requests were written; bounded.
    bool waitRequests(size_t n, int timeoutMs) const;

    std::unique_ptr<SerialPort> makePort();

  private:
    friend class FakePort;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Responder responder_;
    OpenResult openResult_;
    bool present_ = true;
    bool writeFails_ = false;
    std::vector<Request> requests_;
    int opens_ = 0;
    int openAttempts_ = 0;
};

// Records what the poll thread tells the windows, with the slot each data notice carries.
class RecordingSink : public PollSink {
  public:
    explicit RecordingSink(PollBlock& block) : block_(block) {}

    struct Data {
        AnalyzerId view;
        int slot;
        Slot copy;
    };
    struct Baud {
        AnalyzerId view;
        int code;
        int address;
    };
    struct Box {
        std::string text;
        std::string caption;
    };
    struct Record {
        std::vector<Data> data;
        std::vector<Baud> baud;
        std::vector<Box> boxes;
        int lineFailed = 0;
        struct LineState {
            bool up;           // false: lost, true: back
            size_t afterData;  // data notices before it
        };
        std::vector<LineState> lineStates;
        std::vector<CommandReport> commands;
    };

    void dataChanged(const SlotUpdate& update) override;
    void baudAccepted(AnalyzerId view, int baudCode, int address) override;
    void lineFailed() override;
    void showError(const std::string& text, const std::string& caption) override;
    void lineStateChanged(bool up) override {
        change([up](Record& r) { r.lineStates.push_back({up, r.data.size()}); });
    }
    void commandChanged(const CommandReport& report) override {
        change([&report](Record& r) { r.commands.push_back(report); });
    }

    Record get() const;
    bool waitUntil(const std::function<bool(const Record&)>& pred, int timeoutMs) const;
    // Runs on the poll thread inside dataChanged, after the copy.
    void onData(std::function<void(AnalyzerId, int)> hook);

  private:
    void change(const std::function<void(Record&)>& f) {
        {
            std::lock_guard lock(mutex_);
            f(record_);
        }
        changed_.notify_all();
    }

    PollBlock& block_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Record record_;
    std::function<void(AnalyzerId, int)> onData_;
};

}  // namespace zta::test
