#include "link/posix_baud.h"

#include <iterator>

#include "link/baud.h"

namespace zta {
namespace {

// In the order of kLineRates.
constexpr speed_t kSpeeds[] = {B1200, B2400, B4800, B9600, B19200, B38400, B57600, B115200};
static_assert(std::size(kSpeeds) == std::size(kLineRates));

}  // namespace

bool TermiosSpeed(unsigned baud, speed_t& speed) {
    for (size_t i = 0; i < std::size(kLineRates); ++i) {
        if (kLineRates[i].baud == baud) {
            speed = kSpeeds[i];
            return true;
        }
    }
    return false;
}

unsigned BaudOfTermiosSpeed(speed_t speed) {
    for (size_t i = 0; i < std::size(kSpeeds); ++i) {
        if (kSpeeds[i] == speed) return kLineRates[i].baud;
    }
    return 0;
}

}  // namespace zta
