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
Request ProbeRequest(uint8_t address);

// A probe reply counts when exactly 21 bytes came and their CRC passes; the network number and
// function in it are not compared (an analyzer that answers for another number still counts).
bool ProbeAccepted(const uint8_t* reply, size_t count);

// The status text while `number` is tried: "Поиск приборов. Прибор № N", then, once something
// was found, " ; Найдены №№: " and each found number followed by a comma.
std::string SearchProgressText(int number, const std::vector<int>& found);

// The search thread's parameter block. The starter fills it with Prepare() before it starts the
// thread; the thread writes the results; the window thread reads them while the thread runs
// (progress text) and after it has ended. Everything but the stop flag is under the mutex.
class SearchParams {
public:
    // Copies the line settings for the next run and clears the stop flag and the end mark.
    // The found list is left alone: the thread empties it once the port is set up.
    void Prepare(const std::string& portPath, unsigned baud);

    void RequestStop() { stop_.store(true); }
    bool StopRequested() const { return stop_.load(); }

    std::string PortPath() const;
    unsigned Baud() const;

    // Network numbers that answered, in scan order. Every number 0..255 can answer, so the
    // list has room for all of them and a 256th answer is kept like any other.
    std::vector<int> Found() const;
    int FoundCount() const;
    // The number last tried, or -1 before the first one of this run.
    int Progress() const;
    // Set by the thread after its last write of the results in a run, before its final notice;
    // cleared by Prepare(). Results read while this is clear may still grow.
    bool ResultsFinal() const;

    // Thread side.
    void BeginScan();
    void AddFound(int number);
    void SetProgress(int number);
    void MarkFinal();

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

// What the search thread tells its starter. Progress, Finished and LineFailed are notices
// (the UI posts them); ShowError returns only after the operator has closed the box.
class SearchSink {
public:
    virtual ~SearchSink() = default;
    virtual void Progress(int number) = 0;
    virtual void Finished() = 0;
    virtual void LineFailed() = 0;
    virtual void ShowError(const std::string& text, const std::string& caption) = 0;
};

using PortFactory = std::function<std::unique_ptr<SerialPort>()>;

// The whole scan on the calling thread: open, probe 0..255, close, notices. `options` may
// shorten the reply time-out (tests) or force the direction mode; the buffer is always the
// search's own 21 bytes.
void SearchThreadProc(SearchParams& params, SearchSink& sink, LineOptions options = {},
                      const PortFactory& portFactory = MakePlatformPort);

}  // namespace zta
