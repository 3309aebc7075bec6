// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "device/device_host.h"

namespace zta {

// The service commands as an analyzer document's handlers: what the document answers for the
// "Установки" commands, their tool buttons and F6. Installed by default.
DocumentCommandHandlers serviceCommandHandlers();
// Whether the operator has a dialog that sends `command`.
bool hasServiceDialog(Command command);

}  // namespace zta
