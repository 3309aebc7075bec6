// SPDX-License-Identifier: GPL-3.0-or-later
#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "link/baud.h"
#include "link/serial_line.h"
#include "link/serial_port.h"

namespace zta {
namespace {

// Input only: every purge follows a drain (FlushFileBuffers), so no output is left to drop,
// and where the port is a pseudo-terminal (Wine) dropping output also throws away the request
// the other end has not read yet.
constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;

// The 95/98/Me family (top bit of GetVersion set) needs the station to switch RTS itself; this
// program cannot run there, so every system it meets is of the NT family, whose driver does it.
constexpr bool kNtFamily = true;

// Errors a handle gives once its USB adapter has been pulled out (ERROR_NOT_READY: Wine, once
// the other end of its pseudo-terminal has gone).
bool meansGone(DWORD error) {
    switch (error) {
        case ERROR_NOT_READY:
        case ERROR_ACCESS_DENIED:
        case ERROR_INVALID_HANDLE:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_OPERATION_ABORTED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
            return true;
        default:
            return false;
    }
}

// Windows' own drivers refuse a second opener of a port; Wine does not, so two programs could
// talk over each other on one bus. A named claim per port keeps this station's programs apart
// there as well; it lives as long as the handle. INVALID_HANDLE_VALUE: another holds it.
HANDLE claimPort(const std::string& path) {
    std::string name = path;
    if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
    for (char& c : name) {
        if (c == '\\')
            c = '_';
        else
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    HANDLE claim = ::CreateMutexA(nullptr, FALSE, ("Local\\zta-serial-" + name).c_str());
    if (claim != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(claim);
        return INVALID_HANDLE_VALUE;
    }
    return claim;  // null when no claim could be made: the port is opened without one
}

// RTS is already asserted by the settings, so raising it again changes nothing on the line.
// It fails where the port has no modem lines to switch (Wine on a pseudo-terminal, virtual
// ports).
bool canSwitchRts(HANDLE handle) { return ::EscapeCommFunction(handle, SETRTS) != 0; }

class Win32SerialPort : public SerialPort {
  public:
    ~Win32SerialPort() override { close(); }

    OpenResult open(const std::string& path, unsigned baud, DirectionSetting direction,
                    DirectionMode& mode) override {
        close();
        vanished_ = false;

        HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            OpenFailure kind = OpenFailure::Other;
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_GEN_FAILURE) {
                kind = OpenFailure::WrongPort;
            } else if (error == ERROR_ACCESS_DENIED) {
                kind = OpenFailure::Busy;
            }
            return {kind, static_cast<int>(error)};
        }
        HANDLE claim = claimPort(path);
        if (claim == INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
            return {OpenFailure::Busy, ERROR_ACCESS_DENIED};
        }

        // The rates an analyzer can be set to, as on POSIX: a line at any other rate would
        // only meet silence.
        if (!analyzerRate(baud)) {
            ::CloseHandle(handle);
            if (claim != nullptr) ::CloseHandle(claim);
            return {OpenFailure::SettingsRefused, ERROR_INVALID_PARAMETER};
        }
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        (void)::GetCommState(handle, &dcb);
        dcb.BaudRate = baud;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;

        // Toggle first where the driver should switch; Wine, and the drivers of some USB
        // adapters, refuse it (Wine with ERROR_NOT_SUPPORTED), and the settings then go in with
        // RTS simply enabled.
        const bool wantToggle = direction == DirectionSetting::Driver ||
                                (direction == DirectionSetting::Auto && kNtFamily);
        dcb.fRtsControl = wantToggle ? RTS_CONTROL_TOGGLE : RTS_CONTROL_ENABLE;
        bool applied = ::SetCommState(handle, &dcb) != 0;
        const bool toggled = applied && wantToggle;
        if (!applied && wantToggle) {
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
            applied = ::SetCommState(handle, &dcb) != 0;
        }
        if (!applied) {
            const DWORD error = ::GetLastError();
            ::CloseHandle(handle);
            if (claim != nullptr) ::CloseHandle(claim);
            return {OpenFailure::SettingsRefused, static_cast<int>(error)};
        }
        DirectionAbilities port;
        port.driverSwitches = toggled;
        // Never asked while the driver toggles RTS: raising it then would hold the transmitter on.
        port.modemLines = toggled || canSwitchRts(handle);

        handle_ = handle;
        claim_ = claim;
        const int timeoutMs = timingFor(baud).replyTimeoutMs;
        if (!applyReadTimeout(timeoutMs)) {
            const DWORD error = ::GetLastError();
            close();
            return {OpenFailure::TimeoutsRefused, static_cast<int>(error)};
        }
        mode = chooseDirectionMode(direction, port);
        return {};
    }

    bool write(const uint8_t* data, size_t length) override {
        if (handle_ == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        if (!::WriteFile(handle_, data, static_cast<DWORD>(length), &written, nullptr)) {
            if (meansGone(::GetLastError())) vanished_ = true;
            return false;
        }
        return written == static_cast<DWORD>(length);
    }

    size_t read(uint8_t* buffer, size_t length, int timeoutMs) override {
        if (handle_ == INVALID_HANDLE_VALUE || length == 0) return 0;
        // The total read time-out is a setting of the handle; it is changed only when a caller
        // asks for another one than the rate's.
        if (timeoutMs != readTimeoutMs_ && !applyReadTimeout(timeoutMs)) {
            if (meansGone(::GetLastError())) vanished_ = true;
            return 0;
        }
        DWORD got = 0;
        if (!::ReadFile(handle_, buffer, static_cast<DWORD>(length), &got, nullptr)) {
            if (meansGone(::GetLastError())) vanished_ = true;
        }
        return got <= length ? static_cast<size_t>(got) : length;
    }

    void purge() override {
        if (handle_ != INVALID_HANDLE_VALUE) (void)::PurgeComm(handle_, kPurgeInput);
    }

    size_t takeInput(std::vector<uint8_t>& dropped) override {
        dropped.clear();
        if (handle_ == INVALID_HANDLE_VALUE) return 0;
        DWORD errors = 0;
        COMSTAT status{};
        size_t count = 0;
        if (::ClearCommError(handle_, &errors, &status) && status.cbInQue > 0) {
            // What is queued is read at once, whatever the read time-out.
            count = status.cbInQue;
            dropped.resize(std::min<size_t>(count, 4096));
            DWORD got = 0;
            if (!::ReadFile(handle_, dropped.data(), static_cast<DWORD>(dropped.size()), &got,
                            nullptr))
                got = 0;
            dropped.resize(got);
        }
        (void)::PurgeComm(handle_, kPurgeInput);
        return count;
    }

    void drain() override {
        if (handle_ != INVALID_HANDLE_VALUE) (void)::FlushFileBuffers(handle_);
    }

    void setRts(bool on) override {
        if (handle_ != INVALID_HANDLE_VALUE)
            (void)::EscapeCommFunction(handle_, on ? SETRTS : CLRRTS);
    }

    void close() override {
        if (handle_ == INVALID_HANDLE_VALUE) return;
        ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        if (claim_ != nullptr) ::CloseHandle(claim_);
        claim_ = nullptr;
        readTimeoutMs_ = -1;
    }

    bool vanished() const override { return vanished_; }

  private:
    bool applyReadTimeout(int timeoutMs) {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = 0;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 1);
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = 0;
        if (!::SetCommTimeouts(handle_, &timeouts)) return false;
        readTimeoutMs_ = timeoutMs;
        return true;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE claim_ = nullptr;
    int readTimeoutMs_ = -1;
    bool vanished_ = false;
};

}  // namespace

std::unique_ptr<SerialPort> makeSerialDevicePort() { return std::make_unique<Win32SerialPort>(); }

}  // namespace zta

#endif  // _WIN32
