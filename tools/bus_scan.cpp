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

extern "C" void StopOnInterrupt(int) {
    if (g_interruptible) g_interruptible->RequestStop();
}

// Progress on standard error in the station's own words: overwritten in place on a terminal,
// one line per number otherwise so that a log shows where a scan stopped.
class ConsoleSink : public SearchSink {
public:
    ConsoleSink(const SearchParams& params, bool terminal) : params_(params), terminal_(terminal) {}

    void Progress(int number) override {
        const std::string text = SearchProgressText(number, params_.Found());
        std::fprintf(stderr, "%s%s%s", terminal_ ? "\r\033[K" : "", text.c_str(),
                     terminal_ ? "" : "\n");
        std::fflush(stderr);
        progressShown_ = true;
    }
    void Finished() override { finished_ = true; }
    void LineFailed() override { lineFailed_ = true; }
    void ShowError(const std::string& text, const std::string&) override {
        EndProgressLine();
        const std::string shown = text.empty() ? "cannot open " + params_.PortPath() : text;
        std::fprintf(stderr, "zta-bus: %s\n", shown.c_str());
    }

    void EndProgressLine() {
        if (terminal_ && progressShown_) std::fputc('\n', stderr);
        progressShown_ = false;
    }
    bool finished() const { return finished_; }
    bool lineFailed() const { return lineFailed_; }

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

int RunScan(int argc, char** argv) {
    Options o;
    std::string error;
    if (!ParseOptions(argc, argv, o, error)) {
        std::fprintf(stderr, "zta-bus: %s\n", error.c_str());
        return kUsage;
    }
    if (!o.addresses.empty() || o.extended || o.turns != -1 || !o.positional.empty()) {
        std::fputs("zta-bus: scan takes only --port, --baud, --timeout, --rs485, --trace and --json\n",
                   stderr);
        return kUsage;
    }

    SearchParams params;
    params.Prepare(StoredPortName(o.port), o.baud);
    ConsoleSink sink(params, ZTA_ISATTY(ZTA_FILENO(stderr)) != 0);

    g_interruptible = &params;
    auto previous = std::signal(SIGINT, StopOnInterrupt);
    SearchThreadProc(params, sink, LineOptionsFor(o, kSearchBufferSize));
    std::signal(SIGINT, previous);
    g_interruptible = nullptr;
    sink.EndProgressLine();

    if (sink.lineFailed()) return kPortError;

    const std::vector<int> found = params.Found();
    if (o.json) {
        Json json;
        json["port"] = params.PortPath();
        json["baud"] = o.baud;
        json["complete"] = sink.finished();
        json["found"] = found;
        std::printf("%s\n", JsonLine(json).c_str());
    } else {
        for (int n : found) std::printf("%d\n", n);
    }
    std::fflush(stdout);

    if (!sink.finished()) {
        std::fputs("zta-bus: scan interrupted\n", stderr);
        return 130;
    }
    if (found.empty()) {
        std::fputs("zta-bus: Подключенных приборов не найдено.\n", stderr);
        return kNoReply;
    }
    return kOk;
}
