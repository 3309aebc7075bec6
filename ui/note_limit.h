// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace zta {

// A note ends one record line; the limit keeps every line small enough to go out in one append.
inline constexpr int kNoteLimit = 1000;

// `note` cut to kNoteLimit characters (a character is never split in two).
inline QString limitedNote(const QString& note) {
    if (note.size() <= kNoteLimit) return note;
    const qsizetype cut = note.at(kNoteLimit - 1).isHighSurrogate() ? kNoteLimit - 1 : kNoteLimit;
    return note.left(cut);
}

}  // namespace zta
