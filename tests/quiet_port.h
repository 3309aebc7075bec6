#pragma once

// A base for fake ports that only script opening, writing and reading: the line's other calls
// do nothing and the device never vanishes.
#include "link/serial_port.h"

namespace zta::testing {

class QuietPort : public SerialPort {
public:
    void Purge() override {}
    void Drain() override {}
    void SetRts(bool) override {}
    void Close() override {}
    bool Vanished() const override { return false; }
};

}  // namespace zta::testing
