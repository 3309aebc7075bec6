#pragma once

#include <QString>

namespace zta {

// Status prompt (first line) and tool tip (after the line break) of a command; empty when the
// command has none.
QString CommandPrompt(int id);
QString CommandToolTip(int id);

}  // namespace zta
