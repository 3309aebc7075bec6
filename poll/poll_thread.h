// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>

#include "link/serial_line.h"
#include "link/serial_port.h"
#include "poll/poll_block.h"
#include "poll/poll_sink.h"
#include "poll/worker.h"

namespace zta {

struct PollTiming {
    int pacingBaseMs = 500;
    int pacingPerWindowMs = 8;
    LineOptions line;
    // Pause between attempts to reopen a vanished device.
    int reopenIntervalMs = 1000;
};

// The pause after each turn: 500 - 8 x windowCount ms by default, never below 0.
int pacingMs(int windowCount, const PollTiming& timing = {});

// The pause after each turn in fast polling: 3.5 characters of silence at `baud`. With the
// settle pause each exchange makes before its write, the line rests exactly what Modbus RTU
// asks between frames.
long fastPacingUs(unsigned baud);

using PortFactory = std::function<std::unique_ptr<SerialPort>()>;

// The poll thread's body: opens the line with the block's port and rate and polls until a stop
// is requested. Ends after lineFailed() when the line cannot be opened.
void pollThreadProc(PollBlock& block, PollSink& sink, const PollTiming& timing = {},
                    PortFactory portFactory = makePlatformPort);

class PollThread {
  public:
    PollThread(PollBlock& block, PollSink& sink, PollTiming timing = {},
               PortFactory portFactory = makePlatformPort);
    ~PollThread();  // stops and waits (without serving)

    // Runs the connect sequence on the block and starts polling; false while still running.
    bool start();
    bool isRunning() const;
    // Requests the stop and waits up to `timeoutMs` for the end, serving through `serveOnce`.
    // False on time-out: the thread stays known and a later stop() waits again.
    bool stop(int timeoutMs = 10000, const std::function<void()>& serveOnce = {});
    // Waits for an end the thread comes to by itself (after lineFailed(), or a stop requested
    // elsewhere), without asking for one.
    bool wait(int timeoutMs, const std::function<void()>& serveOnce = {});

  private:
    PollBlock& block_;
    PollSink& sink_;
    PollTiming timing_;
    PortFactory portFactory_;
    WorkerThread worker_;
};

}  // namespace zta
