// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

#include "ui/command_ids.h"

namespace zta {

// The 16 px tool-bar pictures, drawn so that they stay sharp at any scale; a blank icon for an
// id without a picture.
QIcon toolIcon(CommandId id);
// The station's window icon.
QIcon stationIcon();

}  // namespace zta
