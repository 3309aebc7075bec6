// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/serial_line.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <thread>

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
        case OpenFailure::None:
        case OpenFailure::Other:
            break;
    }
    return {};
}

Pauser& realPauser() {
    static SleepingPauser pauser;
    return pauser;
}

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
    port_->purge();
    buffer_.assign(options.bufferSize, 0);
    observer_ = options.observer;
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
    const size_t length = std::min(expectedLength, buffer_.size());
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
    // write() returns once the driver has the bytes; the purge below would drop whatever is
    // still waiting to go out, and an echoing adapter's copy of the request would come after
    // it. The hold counts from the write's return, but RTS never drops before the last bit
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
    port_->purge();
    result.count = std::min(port_->read(buffer_.data(), length, timing_.replyTimeoutMs), length);
    if (port_->vanished()) {
        result.vanished = true;
        result.count = 0;
    }
    if (result.count > 0)
        result.replyUs = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                               std::chrono::steady_clock::now() - sentAt)
                                               .count());
    if (observer_) observer_->exchanged(request, buffer_.data(), result);
    return result;
}

void SerialLine::close() {
    std::vector<uint8_t>().swap(buffer_);
    if (open_) port_->close();
    open_ = false;
}

}  // namespace zta
