// SPDX-License-Identifier: GPL-3.0-or-later
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define ZTA_ISATTY _isatty
#define ZTA_FILENO _fileno
#else
#include <unistd.h>
#define ZTA_ISATTY isatty
#define ZTA_FILENO fileno
#endif

#include "search/scan.h"
#include "tools/bus_commands.h"
#include "tools/bus_common.h"

namespace zta::bus {
namespace {

SearchParams* g_interruptible = nullptr;

extern "C" void stopOnInterrupt(int) {
    if (g_interruptible) g_interruptible->requestStop();
}

// Progress on standard error in the station's own words: overwritten in place on a terminal,
// one line per number otherwise so that a log shows where a scan stopped.
class ConsoleSink : public SearchSink {
  public:
    ConsoleSink(const SearchParams& params, bool terminal) : params_(params), terminal_(terminal) {}

    void progress(int number) override {
        const std::string text = searchProgressText(number, params_.found());
        std::fprintf(stderr, "%s%s%s", terminal_ ? "\r\033[K" : "", text.c_str(),
                     terminal_ ? "" : "\n");
        std::fflush(stderr);
        progressShown_ = true;
    }
    void finished() override { finished_ = true; }
    void lineFailed() override { lineFailed_ = true; }
    void showError(const std::string& text, const std::string&) override {
        endProgressLine();
        const std::string shown = text.empty() ? "cannot open " + params_.portPath() : text;
        std::fprintf(stderr, "zta-bus: %s\n", shown.c_str());
    }

    void endProgressLine() {
        if (terminal_ && progressShown_) std::fputc('\n', stderr);
        progressShown_ = false;
    }
    bool wasFinished() const { return finished_; }
    bool hadLineFailure() const { return lineFailed_; }

  private:
    const SearchParams& params_;
    bool terminal_;
    bool progressShown_ = false;
    bool finished_ = false;
    bool lineFailed_ = false;
};

}  // namespace
}  // namespace zta::bus

using namespace zta;
using namespace zta::bus;

int runScan(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parseOptions(argc, argv, o, error)) {
        std::fprintf(stderr, "zta-bus: %s\n", error.c_str());
        return kUsage;
    }
    if (!o.positional.empty()) {
        std::fprintf(stderr, "zta-bus: unexpected argument %s\n", o.positional[0].c_str());
        return kUsage;
    }

    SearchParams params;
    params.prepare(portPathFor(o.port), o.baud);
    ConsoleSink sink(params, ZTA_ISATTY(ZTA_FILENO(stderr)) != 0);

    g_interruptible = &params;
    auto previous = std::signal(SIGINT, stopOnInterrupt);
    searchThreadProc(params, sink, lineOptionsFor(o, kSearchBufferSize));
    std::signal(SIGINT, previous);
    g_interruptible = nullptr;
    sink.endProgressLine();

    if (sink.hadLineFailure()) return kPortError;

    const std::vector<int> found = params.found();
    if (o.json) {
        Json json;
        json["port"] = params.portPath();
        json["baud"] = o.baud;
        json["complete"] = sink.wasFinished();
        json["found"] = found;
        std::printf("%s\n", jsonLine(json).c_str());
    } else {
        for (int n : found) std::printf("%d\n", n);
    }
    std::fflush(stdout);

    if (!sink.wasFinished()) {
        std::fputs("zta-bus: scan interrupted\n", stderr);
        return 130;
    }
    if (found.empty()) {
        std::fputs("zta-bus: Подключенных приборов не найдено.\n", stderr);
        return kNoReply;
    }
    return kOk;
}
