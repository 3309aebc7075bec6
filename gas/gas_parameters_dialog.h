// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <array>

#include "gas/gas_table.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace zta {

QString gasEntryMessage(GasEntryCheck check);  // empty for Accepted

// Maximum and middle concentration of the gas picked in the gas menu, typed in volume fraction
// or in %НКПР and returned in volume fraction.
class GasParametersDialog : public QDialog {
    Q_OBJECT
  public:
    explicit GasParametersDialog(QWidget* parent = nullptr);

    void setMaximum(double volume) { maximum_ = volume; }
    void setMiddle(double volume) { middle_ = volume; }
    void setGasMarks(const std::array<bool, zta::kMarkedGasCount>& marks) { marks_ = marks; }
    // Volume fraction; meaningful after acceptance.
    double maximum() const { return maximum_; }
    double middle() const { return middle_; }

    QLineEdit* maximumField() const { return maxField_; }
    QLineEdit* middleField() const { return midField_; }
    QCheckBox* volumeBox() const { return volumeBox_; }
    QCheckBox* lelBox() const { return lelBox_; }
    QPushButton* setButton() const { return setButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void chooseUnits(bool lel);
    void onSet();

    double maximum_ = 4.4;
    double middle_ = 2.7;
    std::array<bool, zta::kMarkedGasCount> marks_{};
    QLineEdit* maxField_;
    QLineEdit* midField_;
    QCheckBox* volumeBox_;
    QCheckBox* lelBox_;
    QPushButton* setButton_;
};

}  // namespace zta
