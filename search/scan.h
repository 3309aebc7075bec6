// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/modbus.h"
#include "link/serial_line.h"
#include "link/serial_port.h"

namespace zta {

constexpr int kSearchNumbers = 256;  // network numbers 0..255
constexpr const char* kSearchCaption = "Поиск";

// The probe sent to every number: read eight input registers from register 2.
Request probeRequest(uint8_t address);

// A probe reply counts when exactly 21 bytes came and their CRC passes; the network number and
// function in it are not compared (an analyzer that answers for another number still counts).
bool probeAccepted(const uint8_t* reply, size_t count);

// The status text while `number` is tried: "Поиск приборов. Прибор № N", then, once something
// was found, " ; Найдены №№: " and each found number followed by a comma.
std::string searchProgressText(int number, const std::vector<int>& found);

// The search thread's parameter block. The starter fills it with prepare() before it starts the
// thread; the thread writes the results; the window thread reads them while the thread runs
// (progress text) and after it has ended. Everything but the stop flag is under the mutex.
class SearchParams {
  public:
    // Copies the line settings for the next run and clears the stop flag and the end mark.
    // The found list is left alone: the thread empties it once the port is set up.
    void prepare(const std::string& portPath, unsigned baud);

    void requestStop() { stop_.store(true); }
    bool stopRequested() const { return stop_.load(); }

    std::string portPath() const;
    unsigned baud() const;

    // Network numbers that answered, in scan order. Every number 0..255 can answer, so the
    // list has room for all of them and a 256th answer is kept like any other.
    std::vector<int> found() const;
    int foundCount() const;
    // The number last tried, or -1 before the first one of this run.
    int progress() const;
    // Set by the thread after its last write of the results in a run, before its final notice;
    // cleared by prepare(). Results read while this is clear may still grow.
    bool resultsFinal() const;

    // Thread side.
    void beginScan();
    void addFound(int number);
    void setProgress(int number);
    void markFinal();

  private:
    mutable std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::string portPath_;
    unsigned baud_ = 9600;
    std::array<int, kSearchNumbers> found_{};
    int foundCount_ = 0;
    int progress_ = -1;
    bool final_ = false;
};

// What the search thread tells its starter. progress, finished and lineFailed are notices
// (the UI posts them); showError returns only after the operator has closed the box.
class SearchSink {
  public:
    virtual ~SearchSink() = default;
    virtual void progress(int number) = 0;
    virtual void finished() = 0;
    virtual void lineFailed() = 0;
    virtual void showError(const std::string& text, const std::string& caption) = 0;
};

using PortFactory = std::function<std::unique_ptr<SerialPort>()>;

// The whole scan on the calling thread: open, probe 0..255, close, notices. `options` may
// shorten the reply time-out (tests) or force the direction mode; the buffer is always the
// search's own 21 bytes.
void searchThreadProc(SearchParams& params, SearchSink& sink, LineOptions options = {},
                      const PortFactory& portFactory = makePlatformPort);

}  // namespace zta
