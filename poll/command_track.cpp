// SPDX-License-Identifier: GPL-3.0-or-later
#include "poll/command_track.h"

namespace zta {

uint16_t commandRegister(Command c) {
    switch (c) {
        case Command::NewAddress:
        case Command::NewBaud:
            return 0;
        case Command::Zero:
            return 1;
        case Command::MidGas:
            return 2;
        case Command::MaxGas:
            return 3;
        case Command::Typical:
            return 4;
        case Command::Threshold1:
            return 5;
        case Command::Threshold2:
            return 6;
        case Command::FactoryNumber:
            return 7;
    }
    return 0;
}

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
