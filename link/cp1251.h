// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace zta {

// Windows-1251 is used only at the boundaries: the analyzer's text block, record files and the
// calibration file. Everything inside the station is UTF-8.
std::string cp1251ToUtf8(std::string_view cp1251);

// Characters without a Windows-1251 form, and malformed UTF-8, become '?'.
std::string utf8ToCp1251(std::string_view utf8);

}  // namespace zta
