// SPDX-License-Identifier: GPL-3.0-or-later
#include "poll/command_track.h"

#include "poll/command_table.h"

namespace zta {

uint16_t commandRegister(Command c) { return commandRow(c).encode(CommandInputs{}).reg; }

const CommandTrack* lastCommand(const CommandTracks& tracks, Command* which) {
    const CommandTrack* newest = nullptr;
    for (int i = 0; i < kCommandKinds; ++i) {
        if (tracks[i].id == 0 || (newest && newest->id > tracks[i].id)) continue;
        newest = &tracks[i];
        if (which) *which = commandAt(i);
    }
    return newest;
}

}  // namespace zta
