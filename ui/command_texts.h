// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "poll/command_track.h"

namespace zta {

// The command as its menu names it.
QString commandName(Command command);
// "ожидает", "отправлена", "выполнена" or "не выполнена: <why>".
QString commandStateText(const CommandTrack& track);

}  // namespace zta
