// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <vector>

namespace zta {

// The dialogs an operator works with, filled with typical values: the pictures of the README
// and the check that their texts fit.
struct OperatorDialog {
    QString fileName;  // e.g. "set_param_gaz.png"
    std::unique_ptr<QDialog> dialog;
};
std::vector<OperatorDialog> makeOperatorDialogs(QWidget* parent);

// Draws each of them into a PNG file in `folder`. Returns the number of files that could not
// be written.
int saveDialogScreenshots(QWidget* parent, const QString& folder);

}  // namespace zta
