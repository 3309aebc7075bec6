// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include "poll/poll_block.h"

namespace zta {

class BenchCore;

// The one way a service command reaches an analyzer: the operator's dialogs call it after their
// confirmations, the verification calls it directly.
class CommandService {
  public:
    explicit CommandService(BenchCore& core) : core_(core) {}

    // Sets the command pending with its value (the poll thread sends it on the analyzer's next
    // turns and follows its state) and tells the listeners, of the open one it replaced too.
    // False for an analyzer no line holds.
    bool send(AnalyzerId analyzer, Command command, std::optional<double> value = std::nullopt);

  private:
    BenchCore& core_;
};

}  // namespace zta
