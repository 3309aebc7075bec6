// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace zta::verify {

// A number as the protocols print it: `decimals` places, a decimal point, no "-0".
std::string number(double value, int decimals);

}  // namespace zta::verify
