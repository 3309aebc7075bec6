// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/net_address.h"

#include "link/number_text.h"

namespace zta {

namespace {

constexpr const char kSeparator[] = "://";

struct SchemeRow {
    const char* prefix;
    NetScheme scheme;
    bool portRequired;
};

constexpr SchemeRow kSchemes[] = {
    {"tcp", NetScheme::RawTcp, true},
    {"rfc2217", NetScheme::Telnet, true},
    {"mbtcp", NetScheme::ModbusTcp, false},
};

bool hostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

}  // namespace

bool isNetworkPortName(const std::string& name) {
    const size_t at = name.find(kSeparator);
    if (at == std::string::npos || at == 0) return false;
    for (size_t i = 0; i < at; ++i)
        if (!((name[i] >= 'a' && name[i] <= 'z') || (name[i] >= 'A' && name[i] <= 'Z') ||
              (name[i] >= '0' && name[i] <= '9')))
            return false;
    return true;
}

bool parseNetAddress(const std::string& name, NetAddress& address) {
    if (!isNetworkPortName(name)) return false;
    const size_t at = name.find(kSeparator);
    std::string scheme = name.substr(0, at);
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const SchemeRow* row = nullptr;
    for (const SchemeRow& r : kSchemes)
        if (scheme == r.prefix) row = &r;
    if (!row) return false;

    std::string rest = name.substr(at + sizeof kSeparator - 1);
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::string host;
    std::string portText;
    bool hasPort = false;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) return false;
        host = rest.substr(1, close - 1);
        for (char c : host)
            if (!(hostCharacter(c) || c == ':' || c == '%')) return false;
        if (host.find(':') == std::string::npos) return false;
        const std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return false;
            hasPort = true;
            portText = after.substr(1);
        }
    } else {
        const size_t colon = rest.find(':');
        host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            hasPort = true;
            portText = rest.substr(colon + 1);
        }
        for (char c : host)
            if (!hostCharacter(c)) return false;
    }
    if (host.empty()) return false;
    long port = kModbusTcpPort;
    if (hasPort) {
        if (!parseWholeNumber(portText, 1, 65535, &port)) return false;
    } else if (row->portRequired) {
        return false;
    }
    address.scheme = row->scheme;
    address.host = host;
    address.port = static_cast<uint16_t>(port);
    return true;
}

bool lineRateSettable(const std::string& portName) {
    NetAddress address;
    return !(parseNetAddress(portName, address) && address.scheme == NetScheme::ModbusTcp);
}

}  // namespace zta
