// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QBoxLayout;
class QDialog;
class QPushButton;

namespace zta {

// Which button Enter presses; some dialogs deliberately leave on Enter without a change.
enum class EnterPresses { Accept, Nothing, Cancel };

// The accept and cancel buttons at the bottom right of a dialog; cancel rejects it. Returns the
// accept button, whose click the caller connects.
QPushButton* addDialogButtons(QDialog& dialog, QBoxLayout& layout, const QString& acceptText,
                              const QString& cancelText, EnterPresses enter = EnterPresses::Accept);

}  // namespace zta
