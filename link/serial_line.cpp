#include "link/serial_line.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace zta {

LineTiming TimingFor(unsigned baud) {
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

bool ParseDirectionSetting(const std::string& text, DirectionSetting& setting) {
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

std::string EnvironmentValue(const char* name) {
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

std::string FormatWithName(const char* pattern, const std::string& name) {
    std::string text(pattern);
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, name);
    return text;
}

std::string FormatWithCode(const char* pattern, int code) {
    std::string text(pattern);
    const size_t at = text.find("%d");
    if (at != std::string::npos) text.replace(at, 2, std::to_string(code));
    return text;
}

class SleepingPauser : public Pauser {
  public:
    void PauseMs(int ms) override {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

}  // namespace

DirectionMode ChooseDirectionMode(DirectionSetting setting, const DirectionAbilities& port) {
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

DirectionSetting DirectionFromEnvironment() {
    DirectionSetting setting = DirectionSetting::Auto;
    ParseDirectionSetting(EnvironmentValue("ZTA_RS485"), setting);
    return setting;
}

std::string StoredPortNameWindows(const std::string& chosen) {
    static const std::string kDevicePrefix = "\\\\.\\";
    if (chosen.size() < 5 || chosen.compare(0, kDevicePrefix.size(), kDevicePrefix) == 0) {
        return chosen;
    }
    return kDevicePrefix + chosen;
}

std::string StoredPortNamePosix(const std::string& chosen) {
    if (chosen.empty() || chosen.find('/') != std::string::npos) return chosen;
    return "/dev/" + chosen;
}

std::string StoredPortName(const std::string& chosen) {
#ifdef _WIN32
    return StoredPortNameWindows(chosen);
#else
    return StoredPortNamePosix(chosen);
#endif
}

std::string OpenFailureText(const OpenResult& result, const std::string& storedPortName) {
    switch (result.failure) {
        case OpenFailure::WrongPort:
            return FormatWithName("Порт %s указан неверно", storedPortName);
        case OpenFailure::Busy:
            return FormatWithName("Порт %s занят.", storedPortName);
        case OpenFailure::SettingsRefused:
            return FormatWithCode("Ошибка SetCommState № %d", result.platformCode);
        case OpenFailure::TimeoutsRefused:
            return FormatWithCode("Ошибка SetCommTimeouts № %d", result.platformCode);
        case OpenFailure::None:
        case OpenFailure::Other:
            break;
    }
    return {};
}

Pauser& RealPauser() {
    static SleepingPauser pauser;
    return pauser;
}

SerialLine::SerialLine(std::unique_ptr<SerialPort> port, Pauser& pauser)
    : port_(std::move(port)), pauser_(pauser) {}

SerialLine::~SerialLine() { Close(); }

OpenResult SerialLine::Open(const std::string& storedPortName, unsigned baud,
                            const LineOptions& options) {
    Close();
    if (!port_) return {OpenFailure::Other, 0};

    DirectionMode mode = DirectionMode::Program;
    const OpenResult result = port_->Open(storedPortName, baud, options.direction, mode);
    if (!result.ok()) return result;

    mode_ = mode;
    timing_ = TimingFor(baud);
    if (options.replyTimeoutMs > 0) timing_.replyTimeoutMs = options.replyTimeoutMs;
    port_->Purge();
    buffer_.assign(options.bufferSize, 0);
    observer_ = options.observer;
    open_ = true;
    return result;
}

ExchangeResult SerialLine::Exchange(const Request& request, size_t expectedLength, int settleMs) {
    ExchangeResult result;
    if (!open_) return result;
    // A device that has gone stays gone for this opening: its owner ends the run, and nothing
    // more is asked of the handle in the meantime.
    if (port_->Vanished()) {
        result.vanished = true;
        return result;
    }
    const size_t length = std::min(expectedLength, buffer_.size());
    const bool program = mode_ == DirectionMode::Program;

    if (program) {
        port_->SetRts(true);
        pauser_.PauseMs(timing_.rtsLeadMs);
    }
    pauser_.PauseMs(settleMs);
    result.writeOk = port_->Write(request.data(), request.size());
    const Pauser::Clock::time_point written = pauser_.Now();
    if (port_->Vanished()) {
        result.vanished = true;
        return result;
    }
    // write() returns once the driver has the bytes; the purge below would drop whatever is
    // still waiting to go out, and an echoing adapter's copy of the request would come after
    // it. The hold counts from the write's return, but RTS never drops before the last bit
    // has left: whichever ends later.
    port_->Drain();
    result.sentAt = std::chrono::system_clock::now();
    const auto sentAt = std::chrono::steady_clock::now();
    if (program) {
        const auto holdLeft = written + std::chrono::milliseconds(timing_.rtsHoldMs) - pauser_.Now();
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(holdLeft).count();
        if (ms > 0) pauser_.PauseMs(static_cast<int>(ms));
        port_->SetRts(false);
        pauser_.PauseMs(1);
    }
    port_->Purge();
    result.count = std::min(port_->Read(buffer_.data(), length, timing_.replyTimeoutMs), length);
    if (port_->Vanished()) {
        result.vanished = true;
        result.count = 0;
    }
    if (result.count > 0)
        result.replyUs = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                               std::chrono::steady_clock::now() - sentAt)
                                               .count());
    if (observer_) observer_->Exchanged(request, buffer_.data(), result);
    return result;
}

void SerialLine::Close() {
    std::vector<uint8_t>().swap(buffer_);
    if (open_) port_->Close();
    open_ = false;
}

}  // namespace zta
