// SPDX-License-Identifier: GPL-3.0-or-later
#include <QFileDialog>
#include <QMessageBox>

#include "ui/dialogs.h"
#include "ui/record_dialogs.h"
#include "ui/software_info_panel.h"

namespace zta {

int StationDialogs::show(const QString& text, const QString& caption, Icon icon, int buttons,
                         QWidget* owner) {
    QMessageBox::Icon qicon = QMessageBox::NoIcon;
    switch (icon) {
        case Icon::Information:
            qicon = QMessageBox::Information;
            break;
        case Icon::Question:
            qicon = QMessageBox::Question;
            break;
        case Icon::Error:
            qicon = QMessageBox::Critical;
            break;
        case Icon::Warning:
            qicon = QMessageBox::Warning;
            break;
        case Icon::None:
            break;
    }
    QMessageBox::StandardButtons qbuttons = QMessageBox::Ok;
    if (buttons & Cancel) qbuttons |= QMessageBox::Cancel;
    // The system's texts carry "\r\n"; a lone "\r" would show as a box on some styles.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(qicon, captionOr(caption), shown, qbuttons, owner);
    return box.exec() == QMessageBox::Ok ? ResultOk : ResultCancel;
}

std::optional<int> StationDialogs::askTimerPeriod(int networkNumber, QWidget* owner) {
    RecordTimerDialog dialog(owner);
    dialog.setNetworkNumber(networkNumber);
    dialog.setPeriod(0);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.period();
}

std::optional<QString> StationDialogs::askNote(int networkNumber, QWidget* owner) {
    NoteDialog dialog(owner);
    dialog.setNetworkNumber(networkNumber);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.text();
}

std::optional<QString> StationDialogs::askFolder(const QString& start, QWidget* owner) {
    QFileDialog dialog(owner);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setDirectory(start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> StationDialogs::askFilePath(FileMode mode, const QString& caption,
                                                   const QString& filter, QWidget* owner) {
    const QString path = mode == FileMode::Save
                             ? QFileDialog::getSaveFileName(owner, caption, QString(), filter)
                             : QFileDialog::getOpenFileName(owner, caption, QString(), filter);
    if (path.isEmpty()) return std::nullopt;
    return path;
}

void StationDialogs::showSoftwareInfo(const SoftwareInfoData& info, QWidget* owner) {
    SoftwareInfoPanel dialog(owner);
    dialog.setNumber(info.networkNumber);
    if (info.networkNumber != -1) {
        dialog.setVersion(info.versionText);
        dialog.setName(info.softwareName);
        dialog.setIdentifier(info.identifier);
    }
    dialog.exec();
}

int StationDialogs::run(QDialog& dialog) { return dialog.exec(); }

}  // namespace zta
