// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;

namespace zta {

// Header line of the software information dialog; -1: nothing was read.
QString deviceInfoHeader(int number);

// The software an analyzer runs: name, version and identifier.
class SoftwareInfoPanel : public QDialog {
    Q_OBJECT
  public:
    explicit SoftwareInfoPanel(QWidget* parent = nullptr);

    // -1 when there is nothing to show; the texts are then not used.
    void setNumber(int number) { number_ = number; }
    void setVersion(const QString& text) { version_ = text; }
    void setIdentifier(const QString& text) { identifier_ = text; }
    void setName(const QString& text) { name_ = text; }

    QLabel* headerLabel() const { return header_; }
    QLineEdit* nameField() const { return nameField_; }
    QLineEdit* versionField() const { return versionField_; }
    QLineEdit* identifierField() const { return identifierField_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    int number_ = -1;
    QString version_;
    QString identifier_;
    QString name_;
    QLabel* header_;
    QLineEdit* nameField_;
    QLineEdit* versionField_;
    QLineEdit* identifierField_;
};

}  // namespace zta
