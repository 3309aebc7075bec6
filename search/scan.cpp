// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/scan.h"

#include "link/reply_view.h"

namespace zta {

Request probeRequest(uint8_t address) { return readRequest(address, kProbeRegister, kProbeCount); }

bool probeAccepted(const uint8_t* reply, size_t count) {
    const ReplyView v(reply, count);
    return v.hasExpectedLength(probeRequest(0)) && v.crcMatches();
}

std::string searchProgressText(int number, const std::vector<int>& found) {
    std::string text = "Поиск приборов. Прибор № " + std::to_string(number);
    if (!found.empty()) {
        text += " ; Найдены №№: ";
        for (int n : found) text += std::to_string(n) + ",";
    }
    return text;
}

void SearchParams::prepare(const std::string& portPath, unsigned baud) {
    std::lock_guard lock(mutex_);
    portPath_ = portPath;
    baud_ = baud;
    progress_ = -1;
    final_ = false;
    stop_.store(false);
}

std::string SearchParams::portPath() const {
    std::lock_guard lock(mutex_);
    return portPath_;
}

unsigned SearchParams::baud() const {
    std::lock_guard lock(mutex_);
    return baud_;
}

std::vector<int> SearchParams::found() const {
    std::lock_guard lock(mutex_);
    return std::vector<int>(found_.begin(), found_.begin() + foundCount_);
}

int SearchParams::foundCount() const {
    std::lock_guard lock(mutex_);
    return foundCount_;
}

int SearchParams::progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

bool SearchParams::resultsFinal() const {
    std::lock_guard lock(mutex_);
    return final_;
}

void SearchParams::beginScan() {
    std::lock_guard lock(mutex_);
    foundCount_ = 0;
}

void SearchParams::addFound(int number) {
    std::lock_guard lock(mutex_);
    if (foundCount_ < kSearchNumbers) found_[static_cast<size_t>(foundCount_++)] = number;
}

void SearchParams::setProgress(int number) {
    std::lock_guard lock(mutex_);
    progress_ = number;
}

void SearchParams::markFinal() {
    std::lock_guard lock(mutex_);
    final_ = true;
}

namespace {

// The port failed (at opening or by vanishing): the box first, so that the operator has read
// it before the window drops the search, then the port is released before any notice.
void failLine(SearchParams& params, SearchSink& sink, SerialLine& line, const OpenResult& why,
              const std::string& portPath) {
    sink.showError(openFailureText(why, portPath), kSearchCaption);
    line.close();
    params.markFinal();
    sink.lineFailed();
    if (!params.stopRequested()) sink.finished();
}

}  // namespace

void searchThreadProc(SearchParams& params, SearchSink& sink, LineOptions options,
                      const PortFactory& portFactory) {
    const std::string portPath = params.portPath();
    const unsigned baud = params.baud();
    options.bufferSize = kSearchBufferSize;
    options.anyNumberAnswers = true;  // whoever answers a probe counts for the number asked

    SerialLine line(portFactory());
    const OpenResult opened = line.open(portPath, baud, options);
    if (!opened.ok()) {
        failLine(params, sink, line, opened, portPath);
        return;
    }
    params.beginScan();

    for (int number = 0; number < kSearchNumbers; ++number) {
        const Request probe = probeRequest(static_cast<uint8_t>(number));
        const ExchangeResult result = line.exchange(probe, kProbeReplyLength, kSearchSettleMs);
        if (probeAccepted(line.reply(), result.count)) params.addFound(number);
        params.setProgress(number);
        if (params.stopRequested()) break;
        if (result.vanished) {
            // An unplugged adapter: the rest of the bus cannot answer, and a normal end would
            // read as "no analyzers" to the operator. Report it the way a missing port is.
            failLine(params, sink, line, lineGoneFailure(portPath), portPath);
            return;
        }
        sink.progress(number);
    }

    line.close();
    params.markFinal();
    if (!params.stopRequested()) sink.finished();
}

}  // namespace zta
