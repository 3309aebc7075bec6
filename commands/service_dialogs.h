// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zta {

// Speed list position n carries the baud code 1 << n (1200 .. 19200).
inline constexpr int kSpeedCount = 5;
inline constexpr int kDefaultSpeedPosition = 3;  // 9600
uint8_t speedCodeAt(int position);
QString speedText(int position);

// How a threshold (analyzer units, 0..100) is shown for a gas code: butane and isobutane show
// it scaled to their own units; every other code, known or not, shows it as it is.
struct ThresholdScale {
    double toShown;    // shown = threshold * toShown
    double fromShown;  // threshold = shown * fromShown
    int decimals;
};
ThresholdScale thresholdScaleFor(uint8_t gasCode);
QString thresholdShownText(uint8_t gasCode, double threshold);
double thresholdFromShown(uint8_t gasCode, double shown);
bool thresholdInRange(double threshold);  // 0 and 100 included
// What goes to the analyzer for an accepted threshold: whole units, 37.9 as 37, 0.58 of
// isobutane (28.999... x 1) as 29.
uint8_t thresholdToSend(double threshold);

inline constexpr long long kFactoryNumberMax = 65535;
bool factoryNumberInRange(long long number);

// New network number of an analyzer.
class NetworkNumberDialog : public QDialog {
    Q_OBJECT
  public:
    explicit NetworkNumberDialog(QWidget* parent = nullptr);

    void setCurrentNumber(int number) { currentNumber_ = number; }
    uint8_t newNumber() const { return newNumber_; }

    QLineEdit* numberField() const { return field_; }
    QPushButton* setButton() const { return setButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void onSet();

    int currentNumber_ = 0;
    uint8_t newNumber_ = 0;
    QLineEdit* field_;
    QPushButton* setButton_;
};

// New baud rate of an analyzer.
class BaudRateDialog : public QDialog {
    Q_OBJECT
  public:
    explicit BaudRateDialog(QWidget* parent = nullptr);

    void setCurrentNumber(int number) { currentNumber_ = number; }
    uint8_t speedCode() const { return speedCode_; }

    QComboBox* speedList() const { return list_; }
    QPushButton* applyButton() const { return applyButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void onApply();

    int currentNumber_ = 0;
    uint8_t speedCode_ = 0;
    QComboBox* list_;
    QPushButton* applyButton_;
};

// New value of threshold 1 or 2, shown in the units of the analyzer's gas.
class ThresholdDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ThresholdDialog(QWidget* parent = nullptr);

    void setGasCode(uint8_t code) { gasCode_ = code; }
    void setCaption(const QString& caption) { caption_ = caption; }
    void setThreshold(double threshold) { threshold_ = threshold; }
    // Unrounded, analyzer units, 0..100; the caller truncates.
    double threshold() const { return threshold_; }

    QLineEdit* valueField() const { return field_; }
    QPushButton* setButton() const { return setButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void onSet();

    uint8_t gasCode_ = 0;
    QString caption_;
    double threshold_ = 0.0;
    QLineEdit* field_;
    QPushButton* setButton_;
};

// New factory number; every edit is checked at once.
class FactoryNumberDialog : public QDialog {
    Q_OBJECT
  public:
    explicit FactoryNumberDialog(QWidget* parent = nullptr);

    void setNetworkNumber(int number) { networkNumber_ = number; }
    void setFactoryNumber(int number) { factoryNumber_ = number; }
    int factoryNumber() const { return factoryNumber_; }

    QLineEdit* numberField() const { return field_; }
    QLabel* promptLabel() const { return prompt_; }
    QPushButton* okButton() const { return okButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void onEdited();
    void onOk();
    // Keeps the typed number when it is one and in range; otherwise shows the refusal, and a
    // number out of range gives way to the last good one.
    bool takeNumber();

    int networkNumber_ = 0;
    int factoryNumber_ = 0;
    QLabel* prompt_;
    QLineEdit* field_;
    QPushButton* okButton_;
};

}  // namespace zta
