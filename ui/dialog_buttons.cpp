// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialog_buttons.h"

#include <QBoxLayout>
#include <QDialog>
#include <QPushButton>

namespace zta {

QPushButton* addDialogButtons(QDialog& dialog, QBoxLayout& layout, const QString& acceptText,
                              const QString& cancelText, EnterPresses enter) {
    auto* accept = new QPushButton(acceptText, &dialog);
    auto* cancel = new QPushButton(cancelText, &dialog);
    accept->setAutoDefault(false);
    cancel->setAutoDefault(false);
    if (enter == EnterPresses::Accept) accept->setDefault(true);
    if (enter == EnterPresses::Cancel) cancel->setDefault(true);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(accept);
    row->addWidget(cancel);
    layout.addLayout(row);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    return accept;
}

}  // namespace zta
