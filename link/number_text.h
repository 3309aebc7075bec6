// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace zta {

// Numbers typed on a command line or in a field. Only the plain decimal form is taken: an
// optional minus, digits, and for a decimal number one point with digits after it. Blanks, a
// plus sign, hexadecimal, exponents, "inf" and "nan" are refused rather than read as something
// the user did not write.
bool parseWholeNumber(std::string_view text, long lo, long hi, long* value);
bool parseDecimalNumber(std::string_view text, double* value);

}  // namespace zta
