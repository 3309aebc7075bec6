// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>

#include "link/regmap.h"

namespace zta {

constexpr int kCommandKinds = 9;
// Writes without an echo after which a command shows as failed. It is still repeated on its
// slot's turns until an echo comes, polling stops or the window closes; a late echo confirms it.
constexpr int kCommandTries = 5;

enum class CommandStatus : uint8_t { None, Pending, Sent, Confirmed, Failed };

enum class CommandFailure : uint8_t {
    None,
    NoEcho,          // kCommandTries writes without an echo
    PollingStopped,  // polling ended with the command unanswered
    LineFailed,      // the line could not be opened
    Cleared,         // its pending flag went without its own echo (connect, another echo)
    Replaced,        // confirmed again with a new value before it was answered
    WindowClosed,    // its window closed with the command unanswered
    Expired,         // not carried out within the command expiry after its confirmation
};

// The life of the last confirmation of one command in one slot.
struct CommandTrack {
    CommandStatus state = CommandStatus::None;
    CommandFailure failure = CommandFailure::None;
    int tries = 0;     // writes that went out
    uint16_t reg = 0;  // register and value of the last write (before it: as confirmed)
    uint16_t value = 0;
    uint64_t id = 0;          // distinct for every confirmation in a block; 0: none
    int64_t confirmedMs = 0;  // steady-clock milliseconds of the operator's confirmation

    bool open() const { return state == CommandStatus::Pending || state == CommandStatus::Sent; }
};

using CommandTracks = std::array<CommandTrack, kCommandKinds>;

// A change of one command's state, as the poll thread reports it to the windows.
struct CommandReport {
    std::uint64_t analyzer = 0;  // the analyzer's id in the core
    int slot = -1;
    // The registration of the analyzer it was confirmed for: a report that arrives after the
    // window took another analyzer is not that analyzer's.
    uint64_t generation = 0;
    int address = 0;
    int factoryNumber = 0;
    Command command = Command::Zero;
    CommandTrack track;
};

inline int commandIndex(Command c) { return static_cast<int>(c); }
inline Command commandAt(int index) { return static_cast<Command>(index); }
uint16_t commandRegister(Command c);

// The track of the newest confirmation among `tracks`; nullptr when none was made.
const CommandTrack* lastCommand(const CommandTracks& tracks, Command* which = nullptr);

}  // namespace zta
