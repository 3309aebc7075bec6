// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/serial_line.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "link/net_address.h"
#include "link/reply_view.h"

namespace zta {

LineTiming timingFor(unsigned baud) {
    switch (baud) {
        case 1200:
            return {10, 25, 600};
        case 2400:
            return {7, 18, 500};
        case 4800:
            return {5, 16, 400};
        case 19200:
            return {2, 2, 300};
        case 9600:
        default:
            return {3, 8, 350};
    }
}

bool parseDirectionSetting(const std::string& text, DirectionSetting& setting) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "auto") {
        setting = DirectionSetting::Auto;
    } else if (lower == "driver") {
        setting = DirectionSetting::Driver;
    } else if (lower == "program") {
        setting = DirectionSetting::Program;
    } else {
        return false;
    }
    return true;
}

namespace {

std::string environmentValue(const char* name) {
#ifdef _MSC_VER
    char* value = nullptr;
    size_t length = 0;
    if (_dupenv_s(&value, &length, name) != 0 || value == nullptr) return {};
    std::string result(value);
    std::free(value);
    return result;
#else
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
#endif
}

std::string formatWithName(const char* pattern, const std::string& name) {
    std::string text(pattern);
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, name);
    return text;
}

std::string formatWithCode(const char* pattern, int code) {
    std::string text(pattern);
    const size_t at = text.find("%d");
    if (at != std::string::npos) text.replace(at, 2, std::to_string(code));
    return text;
}

// How many bytes at the end of `dropped` are a copy of `request`, whole or begun.
size_t copyAtEnd(const std::vector<uint8_t>& dropped, const Request& request) {
    for (size_t k = std::min(dropped.size(), request.size()); k > 0; --k)
        if (std::equal(dropped.end() - static_cast<long>(k), dropped.end(), request.begin()))
            return k;
    return 0;
}

class SleepingPauser : public Pauser {
  public:
    void pauseMs(int ms) override {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

}  // namespace

DirectionMode chooseDirectionMode(DirectionSetting setting, const DirectionAbilities& port) {
    switch (setting) {
        case DirectionSetting::Driver:
            return DirectionMode::Driver;
        case DirectionSetting::Program:
            return DirectionMode::Program;
        case DirectionSetting::Auto:
            break;
    }
    return port.driverSwitches || !port.modemLines ? DirectionMode::Driver : DirectionMode::Program;
}

DirectionSetting directionFromEnvironment() {
    DirectionSetting setting = DirectionSetting::Auto;
    parseDirectionSetting(environmentValue("ZTA_RS485"), setting);
    return setting;
}

std::string storedPortNameWindows(const std::string& chosen) {
    static const std::string kDevicePrefix = "\\\\.\\";
    if (isNetworkPortName(chosen)) return chosen;
    if (chosen.size() < 5 || chosen.compare(0, kDevicePrefix.size(), kDevicePrefix) == 0) {
        return chosen;
    }
    return kDevicePrefix + chosen;
}

std::string storedPortNamePosix(const std::string& chosen) {
    if (chosen.empty() || chosen.find('/') != std::string::npos) return chosen;
    return "/dev/" + chosen;
}

std::string storedPortName(const std::string& chosen) {
#ifdef _WIN32
    return storedPortNameWindows(chosen);
#else
    return storedPortNamePosix(chosen);
#endif
}

std::string openFailureText(const OpenResult& result, const std::string& storedPortName) {
    switch (result.failure) {
        case OpenFailure::WrongPort:
            return formatWithName("Порт %s указан неверно", storedPortName);
        case OpenFailure::Busy:
            return formatWithName("Порт %s занят.", storedPortName);
        case OpenFailure::SettingsRefused:
            return formatWithCode("Ошибка SetCommState № %d", result.platformCode);
        case OpenFailure::TimeoutsRefused:
            return formatWithCode("Ошибка SetCommTimeouts № %d", result.platformCode);
        case OpenFailure::BadAddress:
            return formatWithName("Адрес %s указан неверно", storedPortName);
        case OpenFailure::HostNotFound: {
            NetAddress address;
            const bool parsed = parseNetAddress(storedPortName, address);
            return formatWithName("Узел %s не найден", parsed ? address.host : storedPortName);
        }
        case OpenFailure::Refused: {
            std::string text = formatWithName("Соединение с %s отклонено", storedPortName);
            if (!result.detail.empty()) text += ": " + result.detail;
            return text;
        }
        case OpenFailure::NoAnswer:
            return formatWithName("%s не отвечает", storedPortName);
        case OpenFailure::None:
        case OpenFailure::Other:
            break;
    }
    return {};
}

OpenResult lineGoneFailure(const std::string& storedPortName) {
    return {
        isNetworkPortName(storedPortName) ? OpenFailure::NoAnswer : OpenFailure::WrongPort, 0, {}};
}

Pauser& realPauser() {
    static SleepingPauser pauser;
    return pauser;
}

struct SerialLine::Collected {
    size_t have = 0;       // bytes of the frame being read, at the buffer's start
    size_t preloaded = 0;  // of which the drop held, as the start of a copy not yet confirmed
    size_t stray = 0;
    int copies = 0;
    int foreign = 0;
    int setAsideFrames = 0;
    bool earlyCopy = false;  // a copy began before the read: the line's, never the analyzer's
    bool tentative = false;  // one copy of a write held while a second one may come
    std::chrono::steady_clock::time_point tentativeAt{};

    // Drops the whole frame just read; false when the read must end now.
    bool setAside(Pauser& pauser, Pauser::Clock::time_point deadline);
};

SerialLine::SerialLine(std::unique_ptr<SerialPort> port, Pauser& pauser)
    : port_(std::move(port)), pauser_(pauser) {}

SerialLine::~SerialLine() { close(); }

OpenResult SerialLine::open(const std::string& storedPortName, unsigned baud,
                            const LineOptions& options) {
    close();
    if (!port_) return {OpenFailure::Other, 0};

    DirectionMode mode = DirectionMode::Program;
    const OpenResult result = port_->open(storedPortName, baud, options.direction, mode);
    if (!result.ok()) return result;

    mode_ = mode;
    timing_ = timingFor(baud);
    if (options.replyTimeoutMs > 0) timing_.replyTimeoutMs = options.replyTimeoutMs;
    if (port_->isNetwork()) timing_.replyTimeoutMs += std::max(options.netTimeoutMs, 0);
    port_->purge();
    buffer_.assign(options.bufferSize, 0);
    observer_ = options.observer;
    anyNumberAnswers_ = options.anyNumberAnswers;
    echo_ = LineEcho::Unknown;
    open_ = true;
    return result;
}

ExchangeResult SerialLine::exchange(const Request& request, size_t expectedLength, int settleMs) {
    ExchangeResult result;
    if (!open_) return result;
    // A device that has gone stays gone for this opening: its owner ends the run, and nothing
    // more is asked of the handle in the meantime.
    if (port_->vanished()) {
        result.vanished = true;
        return result;
    }
    const bool program = mode_ == DirectionMode::Program;

    if (program) {
        port_->setRts(true);
        pauser_.pauseMs(timing_.rtsLeadMs);
    }
    pauser_.pauseMs(settleMs);
    result.writeOk = port_->write(request.data(), request.size());
    const Pauser::Clock::time_point written = pauser_.timeNow();
    if (port_->vanished()) {
        result.vanished = true;
        return result;
    }
    // write() returns once the driver has the bytes, and the drop below must come after they
    // have left. The hold counts from the write's return, but RTS never drops before the last bit
    // has left: whichever ends later.
    port_->drain();
    result.sentAt = std::chrono::system_clock::now();
    const auto sentAt = std::chrono::steady_clock::now();
    if (program) {
        const auto holdLeft =
            written + std::chrono::milliseconds(timing_.rtsHoldMs) - pauser_.timeNow();
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(holdLeft).count();
        if (ms > 0) pauser_.pauseMs(static_cast<int>(ms));
        port_->setRts(false);
        pauser_.pauseMs(1);
    }
    // The drop before the reply read: what is waiting is no answer to this request. An echoing
    // adapter's copy of the request may already be there, whole or begun.
    const size_t dropped = port_->takeInput(dropped_);
    Collected c;
    const size_t copyBytes = copyAtEnd(dropped_, request);
    if (copyBytes == request.size()) {
        ++c.copies;
    } else if (copyBytes > 0) {
        std::copy_n(request.begin(), copyBytes, buffer_.begin());
        c.have = c.preloaded = copyBytes;
        c.earlyCopy = true;
    }
    result.strayBytes = dropped - std::min(dropped, copyBytes);
    if (!port_->vanished()) readAnswer(request, expectedLength, c);
    result.waitedUs = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                            std::chrono::steady_clock::now() - sentAt)
                                            .count());
    if (c.tentative) {
        // One copy of a write and nothing after it on a line not known to echo: the analyzer's
        // echo. Whatever broke in after it is stray.
        c.stray += c.have;
        std::copy(request.begin(), request.end(), buffer_.begin());
        c.have = request.size();
        result.replyUs = static_cast<long>(
            std::chrono::duration_cast<std::chrono::microseconds>(c.tentativeAt - sentAt).count());
    }
    result.count = c.have;
    result.strayBytes += c.stray;
    result.lineCopies = c.copies;
    result.foreignFrames = c.foreign;
    if (port_->vanished()) {
        result.vanished = true;
        result.count = 0;
        result.replyUs = -1;
    } else if (c.copies > 0) {
        echo_ = LineEcho::Echoing;
    } else if (request[1] == kFnReadInput) {
        // An echoing line hands back every read request, answered or not.
        echo_ = LineEcho::Quiet;
    }
    result.lineEcho = echo_;
    if (result.count > 0 && result.replyUs < 0) result.replyUs = result.waitedUs;
    if (observer_) observer_->exchanged(request, buffer_.data(), result);
    return result;
}

void SerialLine::readAnswer(const Request& request, size_t expectedLength, Collected& c) {
    uint8_t* buf = buffer_.data();
    const size_t size = buffer_.size();
    const bool isRead = request[1] == kFnReadInput;
    const auto deadline = pauser_.timeNow() + std::chrono::milliseconds(timing_.replyTimeoutMs);
    for (;;) {
        if (c.preloaded > 0) {
            const size_t n = std::min(c.have, request.size());
            if (!std::equal(buf, buf + n, request.begin())) {
                // Not the start of a copy after all: what the drop held was stray.
                std::memmove(buf, buf + c.preloaded, c.have - c.preloaded);
                c.have -= c.preloaded;
                c.stray += c.preloaded;
                c.preloaded = 0;
                c.earlyCopy = false;
                continue;
            }
            if (n == request.size()) c.preloaded = 0;
        }
        const size_t need = frameLengthFromHeader(buf, c.have, expectedLength);
        const size_t target = std::min(need ? need : kExceptionLength, size);
        if (c.have < target) {
            const size_t asked = target - c.have;
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - pauser_.timeNow());
            const int ms = static_cast<int>(std::max<long long>(left.count(), 0));
            const size_t got = std::min(port_->read(buf + c.have, asked, ms), asked);
            c.have += got;
            if (got < asked || port_->vanished()) return;  // the time is up
            continue;
        }
        if (need == 0 || need > size) return;  // more than the buffer holds: as far as it goes
        const ReplyView frame(buf, need);
        if (frame.isEchoOf(request)) {
            // A copy of a read is never an answer; of a write, the first one is the line's
            // where the line echoes, and the analyzer's echo follows it.
            if (isRead || (c.copies == 0 && (echo_ == LineEcho::Echoing || c.earlyCopy))) {
                ++c.copies;
                c.earlyCopy = false;
                if (c.setAside(pauser_, deadline)) continue;
                return;
            }
            if (c.copies == 0 && echo_ == LineEcho::Unknown && !c.tentative) {
                c.tentative = true;
                c.tentativeAt = std::chrono::steady_clock::now();
                if (c.setAside(pauser_, deadline)) continue;
                return;
            }
            if (c.tentative) {
                c.tentative = false;
                c.copies = 1;
            }
            return;
        }
        if (!anyNumberAnswers_ && frame.crcMatches() && frame.address() != request[0]) {
            ++c.foreign;
            if (c.setAside(pauser_, deadline)) continue;
            return;
        }
        return;
    }
}

bool SerialLine::Collected::setAside(Pauser& pauser, Pauser::Clock::time_point deadline) {
    have = 0;
    // A line that never stops sending whole frames must not hold the read past its time.
    return ++setAsideFrames < 64 && pauser.timeNow() < deadline;
}

void SerialLine::close() {
    std::vector<uint8_t>().swap(buffer_);
    if (open_) port_->close();
    open_ = false;
}

}  // namespace zta
