// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/texts.h"

#include <cmath>
#include <cstdio>

namespace zta::verify {

std::string number(double value, int decimals) {
    if (!std::isfinite(value)) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-') s.erase(0, 1);
    return s;
}

}  // namespace zta::verify
