// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <vector>

#include "gas/gas_state.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace zta {

inline constexpr int kMaxDeviceRows = 50;

bool unitsAreLel(const QString& units);  // the units text names %НКПР
// Middle and maximum as the list shows them: whole %НКПР, or volume with two decimals.
QString concentrationText(double value, bool lel);

// One line of the list; all texts as shown.
struct DeviceLine {
    QString number;
    QString gasName;
    QString rangeText;
    QString units;
    QString middleText;
    QString maximumText;
};
// Each distinct parameter set once, numbered from 1, in the order of the rows; rows beyond
// kMaxDeviceRows are ignored.
std::vector<DeviceLine> buildDeviceLines(const std::vector<GasDeviceRow>& rows);

// What selecting a line puts into the four fields.
struct LineFields {
    bool lelMode = false;
    double range = 0.0;
    QString lelMaximum;
    QString lelMiddle;
    QString volumeMaximum;
    QString volumeMiddle;
};
LineFields lineFields(const DeviceLine& line);

// Typing into one field: either the value is too large (the box is shown and nothing is
// converted), or the other field of the same column may get a new text.
struct TypedOutcome {
    bool tooLarge = false;
    std::optional<QString> otherField;
};
TypedOutcome typedLel(long long lel, double range);
TypedOutcome typedVolume(double volume, double range, bool lelEnabled);
QString tooLargeMessage(bool middle);

// "OK": what comes before the final confirmation.
enum class ChoiceCheck { MiddleNotBelowMaximum, MaximumAboveRange, MiddleAboveRange, Confirm };
ChoiceCheck checkDeviceChoice(double maximum, double middle, double range);
QString choiceQuestion(ChoiceCheck check);  // the text of a check that stops or asks
QString gasConfirmationText(const QString& gasName, double range, double maximum, double middle);

// The gas parameter sets the connected analyzers report; the operator picks one, may edit its
// concentrations in either unit, and confirms.
class ConnectedGasParametersDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ConnectedGasParametersDialog(QWidget* parent = nullptr);

    void setDevices(const std::vector<zta::GasDeviceRow>& rows) { rows_ = rows; }
    void setAnalyzers(const std::vector<zta::AnalyzerGasParams>& analyzers);

    // Meaningful after acceptance; maximum and middle are volume fractions.
    QString chosenGasName() const { return chosenName_; }
    QString chosenUnits() const { return chosenUnits_; }
    double chosenMaximum() const { return chosenMaximum_; }
    double chosenMiddle() const { return chosenMiddle_; }
    double chosenRange() const { return chosenRange_; }

    QTableWidget* list() const { return list_; }
    QLabel* gasNameLabel() const { return gasName_; }
    QLabel* rangeLabel() const { return range_; }
    QCheckBox* lelBox() const { return lelBox_; }
    QCheckBox* volumeBox() const { return volumeBox_; }
    QLineEdit* lelMiddleField() const { return lelMid_; }
    QLineEdit* lelMaximumField() const { return lelMax_; }
    QLineEdit* volumeMiddleField() const { return volMid_; }
    QLineEdit* volumeMaximumField() const { return volMax_; }
    QPushButton* okButton() const { return okButton_; }
    bool editing() const { return editing_; }

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void fillList();
    void onSelectionChanged();
    void setMode(bool lel);
    void onTyped(QLineEdit* field);
    bool takeFields();
    void onOk();

    std::vector<zta::GasDeviceRow> rows_;
    std::vector<zta::DeviceLine> lines_;
    bool editing_ = false;
    bool lelMode_ = false;
    double selectedRange_ = 0.0;
    QString chosenName_;
    QString chosenUnits_;
    double chosenMaximum_ = 0.0;
    double chosenMiddle_ = 0.0;
    double chosenRange_ = 0.0;

    QTableWidget* list_;
    QLabel* gasName_;
    QLabel* range_;
    QCheckBox* lelBox_;
    QCheckBox* volumeBox_;
    QLineEdit* lelMid_;
    QLineEdit* lelMax_;
    QLineEdit* volMid_;
    QLineEdit* volMax_;
    QPushButton* okButton_;
};

}  // namespace zta
