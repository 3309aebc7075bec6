// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/number_text.h"

#include <charconv>
#include <cmath>

namespace zta {
namespace {

bool digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string_view withoutSign(std::string_view text) {
    return !text.empty() && text.front() == '-' ? text.substr(1) : text;
}

}  // namespace

bool parseWholeNumber(std::string_view text, long lo, long hi, long* value) {
    if (!digits(withoutSign(text))) return false;
    long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi) return false;
    *value = v;
    return true;
}

bool parseDecimalNumber(std::string_view text, double* value) {
    const std::string_view body = withoutSign(text);
    const size_t point = body.find('.');
    if (!digits(body.substr(0, point))) return false;
    if (point != std::string_view::npos && !digits(body.substr(point + 1))) return false;
    double v = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

}  // namespace zta
