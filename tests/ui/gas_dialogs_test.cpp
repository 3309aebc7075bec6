// SPDX-License-Identifier: GPL-3.0-or-later
// The two gas parameter dialogs driven as an operator would; their rules are in gas_rules_test.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <memory>

#include "gas/connected_gas_parameters_dialog.h"
#include "gas/gas_parameters_dialog.h"
#include "ui/dialogs.h"

using namespace zta;

namespace {

// Types over the whole text, as an operator does after a double click; the field is never empty
// on the way, which would bring the integer or number prompt.
void retype(QLineEdit* field, const QString& text) {
    if (text.isEmpty()) field->clear();
    field->selectAll();
    QTest::keyClicks(field, text);
}

bool accepted(const QDialog& dialog) {
    return dialog.result() == QDialog::Accepted && !dialog.isVisible();
}

std::array<bool, kMarkedGasCount> marks(int code) {
    std::array<bool, kMarkedGasCount> marks{};
    if (code > 0) marks[code - 1] = true;
    return marks;
}

const GasDeviceRow kMethaneLel{"Метан", "%НКПР", 4.4, 50, 100};
const GasDeviceRow kPropaneVol{"Пропан", "об.доли", 1.7, 0.8, 1.7};

}  // namespace

class GasDialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void concentrationUnits();
    void concentrationRefusals();
    void concentrationEnterCancels();

    void devicesListOnce();
    void devicesLelLineConverts();
    void devicesVolumeLine();
    void devicesTooLarge();
    void devicesRangeQuestion();
    void devicesMiddleNotBelow();
    void devicesEmptyTable();

  private:
    // Shows the dialog with the focus moved from the list into `field`, as a click would.
    void startTyping(ConnectedGasParametersDialog& dialog, QLineEdit* field, int row = 0);

    std::unique_ptr<ScriptedDialogs> scripted_;
    ScriptedDialogs& prompter() { return *scripted_; }
};

void GasDialogsTest::init() {
    scripted_ = std::make_unique<ScriptedDialogs>();
    setDialogs(scripted_.get());
}

void GasDialogsTest::cleanup() { setDialogs(nullptr); }

void GasDialogsTest::concentrationUnits() {
    GasParametersDialog dialog;
    dialog.setGasMarks(marks(1));
    dialog.setMaximum(4.0);
    dialog.setMiddle(2.0);
    dialog.show();
    QVERIFY(dialog.volumeBox()->isChecked() && !dialog.lelBox()->isChecked());
    QCOMPARE(dialog.maximumField()->text(), QString("4"));
    QCOMPARE(dialog.middleField()->text(), QString("2"));

    // "% НКПР" loads the %НКПР defaults; the accepted values come back in volume fraction.
    dialog.lelBox()->click();
    QVERIFY(dialog.lelBox()->isChecked() && !dialog.volumeBox()->isChecked());
    QCOMPARE(dialog.maximumField()->text(), QString("100"));
    QCOMPARE(dialog.middleField()->text(), QString("61.4"));
    // Clicking the marked box again keeps it marked and reloads, discarding what was typed.
    retype(dialog.maximumField(), "7");
    dialog.lelBox()->click();
    QVERIFY(dialog.lelBox()->isChecked());
    QCOMPARE(dialog.maximumField()->text(), QString("100"));
    dialog.setButton()->click();
    QVERIFY(accepted(dialog));
    QVERIFY(prompter().boxes().empty());
    QCOMPARE(QString::asprintf("%.2f %.2f", dialog.maximum(), dialog.middle()),
             QString("4.40 2.70"));

    // Opened again: volume units, the values handed in; "Об. доли" loads the volume defaults.
    GasParametersDialog isobutane;
    isobutane.setGasMarks(marks(5));
    isobutane.show();
    isobutane.lelBox()->click();
    retype(isobutane.middleField(), "24.6");
    isobutane.setButton()->click();
    QVERIFY(accepted(isobutane));
    QCOMPARE(QString::asprintf("%.2f %.2f", isobutane.maximum(), isobutane.middle()),
             QString("0.64 0.30"));
    isobutane.show();
    QVERIFY(isobutane.volumeBox()->isChecked());
    isobutane.volumeBox()->click();
    QCOMPARE(isobutane.maximumField()->text(), QString("0.65"));
    QCOMPARE(isobutane.middleField()->text(), QString("0.32"));
}

void GasDialogsTest::concentrationRefusals() {
    GasParametersDialog dialog;
    dialog.setGasMarks(marks(1));
    dialog.show();
    struct Case {
        const char* maximum;
        const char* middle;
        const char* text;
        const char* caption;
        Dialogs::Icon icon;
    };
    const Case cases[] = {
        {"5.29", "2.7", "Параметры газа вне диапазона измерений", "Ошибка ввода",
         Dialogs::Icon::Error},
        {"2.7", "2.7", "Концентрация газа средней концентрации выше газа максимальной концентрации",
         "Ошибка ввода", Dialogs::Icon::Error},
        {"abc", "2.7", "Please enter a number.", "mirel", Dialogs::Icon::Warning},
        {"4", "", "Please enter a number.", "mirel", Dialogs::Icon::Warning},
    };
    for (const Case& c : cases) {
        prompter().clear();
        retype(dialog.maximumField(), c.maximum);
        retype(dialog.middleField(), c.middle);
        dialog.setButton()->click();
        QVERIFY2(dialog.isVisible(), c.maximum);
        QCOMPARE(prompter().boxes().size(), size_t(1));
        QCOMPARE(prompter().boxes()[0].text, QString(c.text));
        QCOMPARE(prompter().boxes()[0].caption, QString(c.caption));
        QCOMPARE(prompter().boxes()[0].icon, c.icon);
        // The operator's entries stay.
        QCOMPARE(dialog.maximumField()->text(), QString(c.maximum));
    }
    retype(dialog.maximumField(), "5.28");
    retype(dialog.middleField(), "2.7");
    dialog.setButton()->click();
    QVERIFY(accepted(dialog));
    QCOMPARE(dialog.maximum(), 5.28);
}

void GasDialogsTest::concentrationEnterCancels() {
    GasParametersDialog dialog;
    dialog.setGasMarks(marks(8));
    dialog.setMaximum(1.0);
    dialog.setMiddle(0.5);
    dialog.show();
    retype(dialog.maximumField(), "1.1");
    QTest::keyClick(dialog.maximumField(), Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.maximum(), 1.0);
}

void GasDialogsTest::startTyping(ConnectedGasParametersDialog& dialog, QLineEdit* field, int row) {
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog, 2000));
    QVERIFY(dialog.list()->hasFocus());
    dialog.list()->selectRow(row);
    QVERIFY(!dialog.editing());
    field->setFocus();
    QVERIFY(dialog.editing());
    field->selectAll();
}

void GasDialogsTest::devicesListOnce() {
    ConnectedGasParametersDialog dialog;
    dialog.setDevices({kMethaneLel, kMethaneLel, kMethaneLel});
    dialog.show();
    QCOMPARE(dialog.list()->columnCount(), 6);
    QCOMPARE(dialog.list()->horizontalHeaderItem(5)->text(), QString("Макс.концентр."));
    QCOMPARE(dialog.list()->rowCount(), 1);
    const char* texts[] = {"1", "Метан", "4.40", "%НКПР", "50", "100"};
    for (int c = 0; c < 6; ++c) QCOMPARE(dialog.list()->item(0, c)->text(), QString(texts[c]));
    QCOMPARE(dialog.list()->currentRow(), 0);

    // The rows of the analyzers as the poll block holds them: standard models get the table's
    // volume defaults, extended ones their own.
    AnalyzerGasParams standard;
    standard.gasCode = 2;
    standard.gasName = "Пропан";
    AnalyzerGasParams extended{1, "Метан", true, "%НКПР", 4.4, 50, 100};
    dialog.reject();
    dialog.setAnalyzers({standard, extended, standard});
    dialog.show();
    QCOMPARE(dialog.list()->rowCount(), 2);
    QCOMPARE(dialog.list()->item(0, 3)->text(), QString("об.доли"));
    QCOMPARE(dialog.list()->item(0, 5)->text(), QString("1.70"));
    QCOMPARE(dialog.list()->item(1, 0)->text(), QString("2"));
}

void GasDialogsTest::devicesLelLineConverts() {
    ConnectedGasParametersDialog dialog;
    dialog.setDevices({kMethaneLel});
    startTyping(dialog, dialog.lelMiddleField());
    QCOMPARE(dialog.gasNameLabel()->text(), QString("Метан"));
    QCOMPARE(dialog.rangeLabel()->text(), QString("4.40"));
    QVERIFY(dialog.lelBox()->isChecked() && dialog.lelBox()->isEnabled());
    QVERIFY(!dialog.volumeBox()->isChecked());
    QVERIFY(dialog.volumeMiddleField()->isReadOnly() && !dialog.lelMiddleField()->isReadOnly());
    QCOMPARE(dialog.lelMaximumField()->text(), QString("100"));
    QCOMPARE(dialog.volumeMaximumField()->text(), QString("4.40"));
    QCOMPARE(dialog.volumeMiddleField()->text(), QString("2.20"));

    QTest::keyClicks(dialog.lelMiddleField(), "60");
    QCOMPARE(dialog.volumeMiddleField()->text(), QString("2.64"));
    QVERIFY(prompter().boxes().empty());

    // "Об.Доли" switches the editable row and keeps the contents; typing a volume now fills the
    // %НКПР field of its column.
    dialog.volumeBox()->click();
    QVERIFY(!dialog.volumeMaximumField()->isReadOnly() && dialog.lelMaximumField()->isReadOnly());
    QCOMPARE(dialog.volumeMiddleField()->text(), QString("2.64"));
    dialog.volumeMaximumField()->setFocus();
    retype(dialog.volumeMaximumField(), "5.06");
    QCOMPARE(dialog.lelMaximumField()->text(), QString("115"));

    // OK: within 20 % of the range, so straight to the final confirmation.
    prompter().answer(Dialogs::ResultOk);
    dialog.okButton()->click();
    QVERIFY(accepted(dialog));
    QCOMPARE(prompter().boxes().size(), size_t(1));
    const auto& box = prompter().boxes()[0];
    QCOMPARE(box.caption, QString("Установка"));
    QCOMPARE(box.icon, Dialogs::Icon::Information);
    QCOMPARE(box.buttons, Dialogs::Ok | Dialogs::Cancel);
    QCOMPARE(box.text, gasConfirmationText("Метан", 4.4, 5.06, 2.64));
    QCOMPARE(dialog.chosenGasName(), QString("Метан"));
    QCOMPARE(dialog.chosenUnits(), QString("%НКПР"));
    QCOMPARE(dialog.chosenMaximum(), 5.06);
    QCOMPARE(dialog.chosenMiddle(), 2.64);
    QCOMPARE(dialog.chosenRange(), 4.4);
}

void GasDialogsTest::devicesVolumeLine() {
    ConnectedGasParametersDialog dialog;
    dialog.setDevices({kMethaneLel, kPropaneVol});
    dialog.show();
    dialog.list()->selectRow(1);
    QCOMPARE(dialog.gasNameLabel()->text(), QString("Пропан"));
    QVERIFY(!dialog.lelBox()->isEnabled() && !dialog.lelBox()->isChecked());
    QVERIFY(dialog.volumeBox()->isChecked());
    QCOMPARE(dialog.lelMiddleField()->text(), QString("-1"));
    QCOMPARE(dialog.lelMaximumField()->text(), QString("-1"));
    QCOMPARE(dialog.volumeMaximumField()->text(), QString("1.70"));
    QCOMPARE(dialog.volumeMiddleField()->text(), QString("0.80"));

    // Typing a volume on a volume line leaves the %НКПР fields at -1.
    dialog.hide();
    startTyping(dialog, dialog.volumeMiddleField(), 1);
    retype(dialog.volumeMiddleField(), "0.9");
    QCOMPARE(dialog.lelMiddleField()->text(), QString("-1"));

    // Cancel in the final confirmation keeps the dialog open; the second OK accepts.
    prompter().answer(Dialogs::ResultCancel);
    dialog.okButton()->click();
    QVERIFY(dialog.isVisible());
    dialog.okButton()->click();
    QVERIFY(accepted(dialog));
    QCOMPARE(dialog.chosenUnits(), QString("об.доли"));
    QCOMPARE(dialog.chosenMiddle(), 0.9);
    QCOMPARE(dialog.chosenRange(), 1.7);
}

void GasDialogsTest::devicesTooLarge() {
    ConnectedGasParametersDialog dialog;
    dialog.setDevices({kMethaneLel});
    startTyping(dialog, dialog.lelMaximumField());
    QTest::keyClicks(dialog.lelMaximumField(), "200");
    QCOMPARE(prompter().boxes().size(), size_t(1));
    QCOMPARE(prompter().boxes()[0].text,
             QString("Слишком большое значение газа максимальной концентрации"));
    QCOMPARE(prompter().boxes()[0].caption, QString("Ошибка"));
    QCOMPARE(prompter().boxes()[0].icon, Dialogs::Icon::None);
    QCOMPARE(dialog.lelMaximumField()->selectedText(), QString("200"));
    QCOMPARE(dialog.volumeMaximumField()->text(), QString("0.88"));  // from "20", not from 200

    // A field that is not a number while typing: the framework's prompt.
    prompter().clear();
    dialog.lelMiddleField()->setFocus();
    retype(dialog.lelMiddleField(), "-");
    QCOMPARE(prompter().boxes().size(), size_t(1));
    QCOMPARE(prompter().boxes()[0].text, QString("Please enter an integer."));
}

void GasDialogsTest::devicesRangeQuestion() {
    ConnectedGasParametersDialog dialog;
    dialog.setDevices({kMethaneLel});
    startTyping(dialog, dialog.lelMaximumField());
    dialog.volumeBox()->click();
    dialog.volumeMaximumField()->setFocus();
    retype(dialog.volumeMaximumField(), "5.4");

    // OK to "Исправить?": back to the maximum field of the editable row.
    prompter().answer(Dialogs::ResultOk);
    dialog.okButton()->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(prompter().boxes().size(), size_t(1));
    QCOMPARE(
        prompter().boxes()[0].text,
        QString("Значение газа высокой концентрации больше значения диапазона на 20%. Исправить?"));
    QCOMPARE(prompter().boxes()[0].caption, QString("Ошибка"));
    QCOMPARE(prompter().boxes()[0].buttons, Dialogs::Ok | Dialogs::Cancel);
    QVERIFY(dialog.volumeMaximumField()->hasFocus());

    // Cancel: the final confirmation, with the warning icon.
    prompter().clear();
    prompter().answer(Dialogs::ResultCancel);
    prompter().answer(Dialogs::ResultOk);
    dialog.okButton()->click();
    QVERIFY(accepted(dialog));
    QCOMPARE(prompter().boxes().size(), size_t(2));
    QCOMPARE(prompter().boxes()[1].icon, Dialogs::Icon::Warning);
    QCOMPARE(prompter().boxes()[1].text, gasConfirmationText("Метан", 4.4, 5.4, 2.2));
    QCOMPARE(dialog.chosenMaximum(), 5.4);
}

void GasDialogsTest::devicesMiddleNotBelow() {
    ConnectedGasParametersDialog dialog;
    dialog.setDevices({kMethaneLel});
    startTyping(dialog, dialog.lelMiddleField());
    QTest::keyClicks(dialog.lelMiddleField(), "100");
    dialog.okButton()->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(prompter().boxes().size(), size_t(1));
    QCOMPARE(
        prompter().boxes()[0].text,
        QString("Значение газа средней концентрации больше значения газа высокой концентрации."));
    QCOMPARE(prompter().boxes()[0].icon, Dialogs::Icon::None);
    QVERIFY(dialog.lelMiddleField()->hasFocus());
    QCOMPARE(dialog.lelMiddleField()->selectedText(), QString("100"));
}

void GasDialogsTest::devicesEmptyTable() {
    ConnectedGasParametersDialog dialog;
    dialog.setDevices({kMethaneLel});
    dialog.show();
    dialog.reject();
    // No analyzer rows: the layout's texts, the old field values, and nothing to accept.
    dialog.setDevices({});
    dialog.show();
    QCOMPARE(dialog.list()->rowCount(), 0);
    QCOMPARE(dialog.gasNameLabel()->text(), QString("Бутан"));
    QCOMPARE(dialog.rangeLabel()->text(), QString("0.15"));
    QCOMPARE(dialog.volumeMaximumField()->text(), QString("4.40"));
    QVERIFY(!dialog.okButton()->isEnabled());
    QTest::keyClick(dialog.list(), Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QVERIFY(prompter().boxes().empty());
}

QTEST_MAIN(GasDialogsTest)
#include "gas_dialogs_test.moc"
