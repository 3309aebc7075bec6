// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace zta {

// Network number -1 stands for all windows.
QString timerSetPrompt(int networkNumber);
QString insertStringCaption(int networkNumber);

// Longest record period: a day. The timer counts milliseconds in an int, and a negative period
// has no meaning, so the field takes 0 (no timer) to this.
inline constexpr int kMaxTimerPeriod = 86400;

// Period of the record timer, in seconds; 0 starts nothing.
class RecordTimerDialog : public QDialog {
    Q_OBJECT
  public:
    explicit RecordTimerDialog(QWidget* parent = nullptr);

    void setNetworkNumber(int number) { networkNumber_ = number; }
    void setPeriod(int seconds) { period_ = seconds; }
    int period() const { return period_; }

    QLabel* promptLabel() const { return prompt_; }
    QLineEdit* periodField() const { return field_; }
    QPushButton* okButton() const { return okButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void onOk();

    int networkNumber_ = -1;
    int period_ = 0;
    QLabel* prompt_;
    QLineEdit* field_;
    QPushButton* okButton_;
};

// A note for the next record line of one window or of all windows.
class NoteDialog : public QDialog {
    Q_OBJECT
  public:
    explicit NoteDialog(QWidget* parent = nullptr);

    void setNetworkNumber(int number) { networkNumber_ = number; }
    void setText(const QString& text) { text_ = text; }
    QString text() const { return text_; }

    QPlainTextEdit* textField() const { return field_; }
    QLabel* limitLabel() const { return limitLabel_; }
    QPushButton* insertButton() const { return insertButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void onInsert();

    int networkNumber_ = -1;
    QString text_;
    QPlainTextEdit* field_;
    QLabel* limitLabel_;
    QPushButton* insertButton_;
};

}  // namespace zta
