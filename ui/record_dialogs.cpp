// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/record_dialogs.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QVBoxLayout>

#include "ui/dialog_buttons.h"
#include "ui/dialog_rules.h"
#include "ui/note_limit.h"

namespace zta {

QString timerSetPrompt(int networkNumber) {
    if (networkNumber == -1)
        return QStringLiteral(
            "Введите время в секундах через которое будет производится "
            "запись показаний с группы приборов.");
    return QStringLiteral(
               "Введите время в секундах через которое будет производится "
               "запись показаний с прибора № %1")
        .arg(networkNumber);
}

QString insertStringCaption(int networkNumber) {
    if (networkNumber == -1) return QStringLiteral("Вставка строки в документы всех приборов");
    return QStringLiteral("Вставка строки в документ прибора № %1").arg(networkNumber);
}

RecordTimerDialog::RecordTimerDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Установка таймера"));
    auto* layout = new QVBoxLayout(this);
    prompt_ = new QLabel(this);
    prompt_->setWordWrap(true);
    layout->addWidget(prompt_);
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("periodField"));
    layout->addWidget(field_);
    okButton_ = addDialogButtons(*this, *layout, QStringLiteral("OK"), QStringLiteral("Cancel"));
    connect(okButton_, &QPushButton::clicked, this, &RecordTimerDialog::onOk);
}

void RecordTimerDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        prompt_->setText(timerSetPrompt(networkNumber_));
        field_->setText(QString::number(period_));
        focusAndSelect(field_);
        adjustSize();  // the size was taken before the prompt had its text; it would be cut
    }
    QDialog::showEvent(event);
}

void RecordTimerDialog::onOk() {
    auto value = takeInteger(field_, this);
    if (!value) return;
    if (*value < 0 || *value > kMaxTimerPeriod) {
        failField(field_, rangePrompt(0, kMaxTimerPeriod), this);
        return;
    }
    period_ = static_cast<int>(*value);
    accept();
}

NoteDialog::NoteDialog(QWidget* parent) : QDialog(parent) {
    auto* layout = new QVBoxLayout(this);
    field_ = new QPlainTextEdit(this);
    field_->setObjectName(QStringLiteral("textField"));
    field_->setTabChangesFocus(true);
    layout->addWidget(field_);
    limitLabel_ = new QLabel(QStringLiteral("Не более %1 знаков").arg(kNoteLimit), this);
    layout->addWidget(limitLabel_);
    // Typed or pasted text beyond the limit is not taken.
    connect(field_, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = field_->toPlainText();
        const QString limited = limitedNote(text);
        if (limited.size() == text.size()) return;
        const QSignalBlocker block(field_);
        field_->setPlainText(limited);
        field_->moveCursor(QTextCursor::End);
    });
    insertButton_ = addDialogButtons(*this, *layout, QStringLiteral("Вставить"),
                                     QStringLiteral("Отмена"), EnterPresses::Nothing);
    connect(insertButton_, &QPushButton::clicked, this, &NoteDialog::onInsert);
}

void NoteDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        setWindowTitle(insertStringCaption(networkNumber_));
        field_->setPlainText(limitedNote(text_));
        field_->setFocus();
        field_->selectAll();
    }
    QDialog::showEvent(event);
}

void NoteDialog::onInsert() {
    text_ = field_->toPlainText();
#include "ui/note_limit.h"
    accept();
}

}  // namespace zta
