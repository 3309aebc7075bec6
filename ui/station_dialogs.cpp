// SPDX-License-Identifier: GPL-3.0-or-later
#include <QFileDialog>
#include <QMessageBox>

#include "ui/dialogs.h"
#include "ui/record_dialogs.h"
#include "ui/software_info_panel.h"

namespace zta {

namespace {

QMessageBox::Icon boxIcon(Dialogs::Icon icon) {
    switch (icon) {
        case Dialogs::Icon::Information:
            return QMessageBox::Information;
        case Dialogs::Icon::Question:
            return QMessageBox::Question;
        case Dialogs::Icon::Error:
            return QMessageBox::Critical;
        case Dialogs::Icon::Warning:
            return QMessageBox::Warning;
        case Dialogs::Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// The system's texts carry "\r\n"; a lone "\r" would show as a box on some styles.
QString shownText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

}  // namespace

int StationDialogs::show(const QString& text, const QString& caption, Icon icon, int buttons,
                         QWidget* owner) {
    QMessageBox::StandardButtons qbuttons = QMessageBox::Ok;
    if (buttons & Cancel) qbuttons |= QMessageBox::Cancel;
    QMessageBox box(boxIcon(icon), captionOr(caption), shownText(text), qbuttons, owner);
    return box.exec() == QMessageBox::Ok ? ResultOk : ResultCancel;
}

void StationDialogs::notify(const QString& text, const QString& caption, Icon icon,
                            QWidget* owner) {
    auto* box =
        new QMessageBox(boxIcon(icon), captionOr(caption), shownText(text), QMessageBox::Ok, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
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
