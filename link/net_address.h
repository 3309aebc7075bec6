// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace zta {

// How a line reaches its bus when the port name is an address rather than a device.
enum class NetScheme {
    None,       // not an address: a local serial device
    RawTcp,     // tcp://HOST:PORT, RTU frames as they are (a device server in transparent mode)
    Telnet,     // rfc2217://HOST:PORT, the same through telnet with serial port control
    ModbusTcp,  // mbtcp://HOST[:PORT], a Modbus TCP gateway (502 by default)
};

struct NetAddress {
    NetScheme scheme = NetScheme::None;
    std::string host;  // without the brackets of an IPv6 literal
    uint16_t port = 0;
};

constexpr uint16_t kModbusTcpPort = 502;

// True for any name of the form "scheme://...": such a name is never a device path, and one
// that does not parse is refused as an address.
bool isNetworkPortName(const std::string& name);

// Parses one of the three forms; false for anything else (an unknown scheme, a missing or
// out-of-range port, an empty host, anything after the port).
bool parseNetAddress(const std::string& name, NetAddress& address);

// False where the line rate cannot be set from the station: behind a Modbus TCP gateway.
bool lineRateSettable(const std::string& portName);

}  // namespace zta
