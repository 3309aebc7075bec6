#include "search/scan.h"

#include "link/reply_view.h"

namespace zta {

Request ProbeRequest(uint8_t address) {
    return ReadRequest(address, kProbeRegister, kProbeCount);
}

bool ProbeAccepted(const uint8_t* reply, size_t count) {
    const ReplyView v(reply, count);
    return v.hasExpectedLength(ProbeRequest(0)) && v.crcMatches();
}

std::string SearchProgressText(int number, const std::vector<int>& found) {
    std::string text = "Поиск приборов. Прибор № " + std::to_string(number);
    if (!found.empty()) {
        text += " ; Найдены №№: ";
        for (int n : found) text += std::to_string(n) + ",";
    }
    return text;
}

void SearchParams::Prepare(const std::string& portPath, unsigned baud) {
    std::lock_guard lock(mutex_);
    portPath_ = portPath;
    baud_ = baud;
    progress_ = -1;
    final_ = false;
    stop_.store(false);
}

std::string SearchParams::PortPath() const {
    std::lock_guard lock(mutex_);
    return portPath_;
}

unsigned SearchParams::Baud() const {
    std::lock_guard lock(mutex_);
    return baud_;
}

std::vector<int> SearchParams::Found() const {
    std::lock_guard lock(mutex_);
    return std::vector<int>(found_.begin(), found_.begin() + foundCount_);
}

int SearchParams::FoundCount() const {
    std::lock_guard lock(mutex_);
    return foundCount_;
}

int SearchParams::Progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

bool SearchParams::ResultsFinal() const {
    std::lock_guard lock(mutex_);
    return final_;
}

void SearchParams::BeginScan() {
    std::lock_guard lock(mutex_);
    foundCount_ = 0;
}

void SearchParams::AddFound(int number) {
    std::lock_guard lock(mutex_);
    if (foundCount_ < kSearchNumbers) found_[static_cast<size_t>(foundCount_++)] = number;
}

void SearchParams::SetProgress(int number) {
    std::lock_guard lock(mutex_);
    progress_ = number;
}

void SearchParams::MarkFinal() {
    std::lock_guard lock(mutex_);
    final_ = true;
}

namespace {

// The port failed (at opening or by vanishing): the box first, so that the operator has read
// it before the window drops the search, then the port is released before any notice.
void FailLine(SearchParams& params, SearchSink& sink, SerialLine& line, const OpenResult& why,
              const std::string& portPath) {
    sink.ShowError(OpenFailureText(why, portPath), kSearchCaption);
    line.Close();
    params.MarkFinal();
    sink.LineFailed();
    if (!params.StopRequested()) sink.Finished();
}

}  // namespace

void SearchThreadProc(SearchParams& params, SearchSink& sink, LineOptions options,
                      const PortFactory& portFactory) {
    const std::string portPath = params.PortPath();
    const unsigned baud = params.Baud();
    options.bufferSize = kSearchBufferSize;

    SerialLine line(portFactory());
    const OpenResult opened = line.Open(portPath, baud, options);
    if (!opened.ok()) {
        FailLine(params, sink, line, opened, portPath);
        return;
    }
    params.BeginScan();

    for (int number = 0; number < kSearchNumbers; ++number) {
        const Request probe = ProbeRequest(static_cast<uint8_t>(number));
        const ExchangeResult result = line.Exchange(probe, kProbeReplyLength, kSearchSettleMs);
        if (ProbeAccepted(line.Reply(), result.count)) params.AddFound(number);
        params.SetProgress(number);
        if (params.StopRequested()) break;
        if (result.vanished) {
            // An unplugged adapter: the rest of the bus cannot answer, and a normal end would
            // read as "no analyzers" to the operator. Report it the way a missing port is.
            FailLine(params, sink, line, OpenResult{OpenFailure::WrongPort, 0}, portPath);
            return;
        }
        sink.Progress(number);
    }

    line.Close();
    params.MarkFinal();
    if (!params.StopRequested()) sink.Finished();
}

}  // namespace zta
