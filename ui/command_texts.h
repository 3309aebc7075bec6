#pragma once

#include <QString>

#include "poll/command_track.h"

namespace zta {

// The command as its menu names it.
QString CommandName(Command command);
// "ожидает", "отправлена", "выполнена" or "не выполнена: <why>".
QString CommandStateText(const CommandTrack& track);

}  // namespace zta
