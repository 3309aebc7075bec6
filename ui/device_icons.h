// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPixmap>

namespace zta {

// The analyzer window's icons, drawn in code so that they scale with the screen.
enum DeviceIconId : int {
    IconLinkUp = 174,      // plug in its socket
    IconLinkDown = 175,    // plug pulled out
    IconRelayGreen = 187,  // green lit bulb
    IconRelayOff = 188,    // unlit bulb
    IconRelayRed = 202,    // red lit bulb
};

// A 32 x 32 picture (device pixels follow the screen's ratio); empty for an unknown id.
QPixmap deviceIcon(int id);

}  // namespace zta
