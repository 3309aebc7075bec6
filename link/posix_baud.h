#pragma once

#include <termios.h>

namespace zta {

// The termios speed of a rate of kLineRates; false for any other rate.
bool TermiosSpeed(unsigned baud, speed_t& speed);
// The rate of a termios speed; 0 for a speed outside kLineRates.
unsigned BaudOfTermiosSpeed(speed_t speed);

}  // namespace zta
