#pragma once

#include <functional>

#include "device/device_host.h"

class QDialog;

namespace zta {

// The service commands as an analyzer document's handlers: what the document answers for the
// "Установки" commands, their tool buttons and F6. Installed by default.
DocumentCommandHandlers ServiceCommandHandlers();

// Runs a service dialog modally and gives its result (QDialog::Accepted or Rejected). Tests
// answer the dialog without a modal loop; an empty runner goes back to exec().
void SetServiceDialogRunner(std::function<int(QDialog&)> runner);

}  // namespace zta
