// SPDX-License-Identifier: GPL-3.0-or-later
// The service command dialogs, software information and the record timer and note dialogs:
// their rules as tables, then each dialog driven as an operator would.
#include "commands/service_dialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "ui/dialog_rules.h"
#include "ui/dialogs.h"
#include "ui/record_dialogs.h"
#include "ui/software_info_panel.h"

using namespace zta;

namespace {

// Replaces the field's text as typing over a selection would.
void retype(QLineEdit* field, const QString& text) {
    field->selectAll();
    field->del();
    QTest::keyClicks(field, text);
}

bool accepted(const QDialog& dialog) {
    return dialog.result() == QDialog::Accepted && !dialog.isVisible();
}

}  // namespace

class ServiceDialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void parsing_data();
    void parsing();
    void thresholdScale_data();
    void thresholdScale();
    void speedCodes();

    void setNomer();
    void setSpeed();
    void setPorog();
    void thresholdsRoundTripUnchanged();
    void changeZavNomer();
    void deviceInfo();
    void timerSet();
    void insertString();
    void insertStringLimit();

  private:
    std::unique_ptr<ScriptedDialogs> scripted_;
    ScriptedDialogs& prompter() { return *scripted_; }
};

void ServiceDialogsTest::init() {
    scripted_ = std::make_unique<ScriptedDialogs>();
    setDialogs(scripted_.get());
}

void ServiceDialogsTest::cleanup() { setDialogs(nullptr); }

void ServiceDialogsTest::parsing_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isInteger");
    QTest::addColumn<qlonglong>("integer");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<double>("number");
    QTest::newRow("plain") << "255" << true << 255LL << true << 255.0;
    QTest::newRow("blanks and sign") << " -12 " << true << -12LL << true << -12.0;
    QTest::newRow("plus") << "+7" << true << 7LL << true << 7.0;
    QTest::newRow("decimal") << "37.9" << false << 0LL << true << 37.9;
    QTest::newRow("trailing point") << "5." << false << 0LL << true << 5.0;
    QTest::newRow("exponent") << "1e2" << false << 0LL << true << 100.0;
    QTest::newRow("empty") << "" << false << 0LL << false << 0.0;
    QTest::newRow("sign only") << "-" << false << 0LL << false << 0.0;
    QTest::newRow("letters") << "12a" << false << 0LL << false << 0.0;
    QTest::newRow("comma") << "1,5" << false << 0LL << false << 0.0;
    QTest::newRow("inner blank") << "1 2" << false << 0LL << false << 0.0;
    QTest::newRow("infinity") << "inf" << false << 0LL << false << 0.0;
    QTest::newRow("nan") << "nan" << false << 0LL << false << 0.0;
    // A run of digits is still a whole number, just a large one: a range check refuses it.
    QTest::newRow("huge") << "99999999999999999999999" << true
                          << std::numeric_limits<qlonglong>::max() << true << 1e23;
}

void ServiceDialogsTest::parsing() {
    QFETCH(QString, text);
    QFETCH(bool, isInteger);
    QFETCH(qlonglong, integer);
    QFETCH(bool, isNumber);
    QFETCH(double, number);
    const auto i = parseInteger(text);
    QCOMPARE(i.has_value(), isInteger);
    if (isInteger) QCOMPARE(*i, integer);
    const auto n = parseNumber(text);
    QCOMPARE(n.has_value(), isNumber);
    if (isNumber) QCOMPARE(*n, number);
}

void ServiceDialogsTest::thresholdScale_data() {
    QTest::addColumn<int>("gasCode");
    QTest::addColumn<double>("threshold");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<double>("typed");
    QTest::addColumn<double>("back");
    QTest::newRow("code 0") << 0 << 20.0 << "20" << 37.9 << 37.9;
    QTest::newRow("code 2") << 2 << 20.0 << "20" << 150.0 << 150.0;
    QTest::newRow("code 4") << 4 << 20.0 << "1.00" << 5.0 << 100.0;
    QTest::newRow("code 4 above") << 4 << 20.0 << "1.00" << 5.01 << 100.2;
    QTest::newRow("code 5") << 5 << 20.0 << "0.40" << 2.0 << 100.0;
    QTest::newRow("code 6, like the %НКПР codes") << 6 << 20.0 << "20" << 37.0 << 37.0;
    QTest::newRow("code 255") << 255 << 100.0 << "100" << 0.0 << 0.0;
}

void ServiceDialogsTest::thresholdScale() {
    QFETCH(int, gasCode);
    QFETCH(double, threshold);
    QFETCH(QString, shown);
    QFETCH(double, typed);
    QFETCH(double, back);
    const auto code = static_cast<uint8_t>(gasCode);
    QCOMPARE(thresholdShownText(code, threshold), shown);
    QVERIFY(std::abs(thresholdFromShown(code, typed) - back) < 1e-9);
    // The shown text of any threshold converts back to it.
    QVERIFY(std::abs(thresholdFromShown(code, shown.toDouble()) - threshold) < 1e-9);
    QCOMPARE(thresholdInRange(back), back <= 100.0);
}

void ServiceDialogsTest::speedCodes() {
    const uint8_t codes[] = {0x01, 0x02, 0x04, 0x08, 0x10};
    const char* texts[] = {"1200", "2400", "4800", "9600", "19200"};
    for (int i = 0; i < kSpeedCount; ++i) {
        QCOMPARE(speedCodeAt(i), codes[i]);
        QCOMPARE(speedText(i), QString(texts[i]));
    }
    QCOMPARE(speedCodeAt(-1), uint8_t(0x08));  // no selection: the preselected 9600
}

void ServiceDialogsTest::setNomer() {
    NetworkNumberDialog dialog;
    dialog.setCurrentNumber(7);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("Смена номера прибора № 7"));
    QCOMPARE(dialog.numberField()->text(), QString("0"));

    for (const char* bad : {"256", "-1", "abc", ""}) {
        prompter().clear();
        retype(dialog.numberField(), bad);
        dialog.setButton()->click();
        QVERIFY2(dialog.isVisible(), bad);
        QCOMPARE(prompter().boxes().size(), size_t(1));
        QCOMPARE(prompter().boxes()[0].text, QString("Please enter an integer between 0 and 255."));
        QCOMPARE(prompter().boxes()[0].caption, QString("mirel"));
        QCOMPARE(prompter().boxes()[0].icon, Dialogs::Icon::Warning);
        QCOMPARE(dialog.numberField()->text(), QString(bad));  // left as typed
    }
    retype(dialog.numberField(), "255");
    dialog.setButton()->click();
    QVERIFY(accepted(dialog));
    QCOMPARE(dialog.newNumber(), uint8_t(255));
}

void ServiceDialogsTest::setSpeed() {
    BaudRateDialog dialog;
    dialog.setCurrentNumber(3);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("Смена скорости прибора № 3"));
    QCOMPARE(dialog.speedList()->count(), 5);
    QCOMPARE(dialog.speedList()->currentText(), QString("9600"));
    dialog.applyButton()->click();
    QVERIFY(accepted(dialog));
    QCOMPARE(dialog.speedCode(), uint8_t(0x08));

    // Opened again, the list starts over at 9600 whatever was chosen before.
    dialog.show();
    dialog.speedList()->setCurrentIndex(4);
    dialog.applyButton()->click();
    QCOMPARE(dialog.speedCode(), uint8_t(0x10));
    dialog.show();
    QCOMPARE(dialog.speedList()->currentIndex(), 3);
    dialog.reject();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void ServiceDialogsTest::setPorog() {
    ThresholdDialog dialog;
    dialog.setGasCode(4);
    dialog.setCaption("Установка порога 1 в приборе № 5");
    dialog.setThreshold(20);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("Установка порога 1 в приборе № 5"));
    QCOMPARE(dialog.valueField()->text(), QString("1.00"));
    QCOMPARE(dialog.valueField()->selectedText(), QString("1.00"));

    retype(dialog.valueField(), "5.01");
    dialog.setButton()->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(prompter().boxes().size(), size_t(1));
    QCOMPARE(prompter().boxes()[0].text, QString("Неправильно введены значения порога"));
    QCOMPARE(prompter().boxes()[0].caption, QString("Ошибка"));
    QCOMPARE(prompter().boxes()[0].icon, Dialogs::Icon::Error);
    QCOMPARE(dialog.threshold(), 20.0);

    retype(dialog.valueField(), "x");
    dialog.setButton()->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(prompter().boxes().back().text, QString("Please enter a number."));

    retype(dialog.valueField(), "5");
    dialog.setButton()->click();
    QVERIFY(accepted(dialog));
    QCOMPARE(dialog.threshold(), 100.0);

    // A %НКПР gas: 150 refused, 37.9 returned unrounded; 0 is accepted.
    ThresholdDialog plain;
    plain.setGasCode(2);
    plain.setThreshold(20);
    plain.show();
    QCOMPARE(plain.valueField()->text(), QString("20"));
    retype(plain.valueField(), "150");
    plain.setButton()->click();
    QVERIFY(plain.isVisible());
    retype(plain.valueField(), "37.9");
    plain.setButton()->click();
    QVERIFY(accepted(plain));
    QCOMPARE(plain.threshold(), 37.9);
    plain.show();
    retype(plain.valueField(), "-0.1");
    plain.setButton()->click();
    QVERIFY(plain.isVisible());
    retype(plain.valueField(), "0");
    plain.setButton()->click();
    QVERIFY(accepted(plain));
    QCOMPARE(plain.threshold(), 0.0);
}

// Every threshold of every gas code, shown and accepted unchanged, goes out as it was: an
// isobutane 29 is shown 0.58 and once went out as 28.
void ServiceDialogsTest::thresholdsRoundTripUnchanged() {
    for (int code = 0; code <= 9; ++code) {
        ThresholdDialog dialog;
        dialog.setGasCode(static_cast<uint8_t>(code));
        for (int threshold = 0; threshold <= 100; ++threshold) {
            dialog.setThreshold(threshold);
            dialog.show();
            dialog.setButton()->click();
            QVERIFY2(accepted(dialog), qPrintable(QStringLiteral("code %1 threshold %2 shown %3")
                                                      .arg(code)
                                                      .arg(threshold)
                                                      .arg(dialog.valueField()->text())));
            QCOMPARE(int(thresholdToSend(dialog.threshold())), threshold);
        }
    }
    QVERIFY(prompter().boxes().empty());
}

void ServiceDialogsTest::changeZavNomer() {
    FactoryNumberDialog dialog;
    dialog.setNetworkNumber(12);
    dialog.setFactoryNumber(6553);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("Изменение заводского  номера"));
    QCOMPARE(dialog.promptLabel()->text(),
             QString("Введите новый заводской номер прибора с сетевым номером 12"));
    QCOMPARE(dialog.numberField()->text(), QString("6553"));
    QCOMPARE(dialog.numberField()->selectedText(), QString("6553"));

    // A sixth digit past the limit: the message, and the previous number back in the field.
    dialog.numberField()->end(false);
    QTest::keyClicks(dialog.numberField(), "6");
    QCOMPARE(prompter().boxes().size(), size_t(1));
    QCOMPARE(prompter().boxes()[0].text, QString("Заводской номер должен быть от 0 до 65535"));
    QCOMPARE(prompter().boxes()[0].caption, QString("Ошибка"));
    QCOMPARE(prompter().boxes()[0].icon, Dialogs::Icon::Information);
    QCOMPARE(dialog.numberField()->text(), QString("6553"));

    dialog.numberField()->end(false);
    QTest::keyClicks(dialog.numberField(), "5");
    QCOMPARE(dialog.numberField()->text(), QString("65535"));
    QCOMPARE(prompter().boxes().size(), size_t(1));

    // Emptying the field: the integer prompt, the last good number kept.
    prompter().clear();
    dialog.numberField()->selectAll();
    QTest::keyClick(dialog.numberField(), Qt::Key_Delete);
    QCOMPARE(prompter().boxes().size(), size_t(1));
    QCOMPARE(prompter().boxes()[0].text, QString("Please enter an integer."));
    QCOMPARE(dialog.factoryNumber(), 65535);
    dialog.okButton()->click();  // the empty field again: refused
    QVERIFY(dialog.isVisible());
    QCOMPARE(prompter().boxes().size(), size_t(2));

    QTest::keyClicks(dialog.numberField(), "0");
    dialog.okButton()->click();
    QVERIFY(accepted(dialog));
    QCOMPARE(dialog.factoryNumber(), 0);
}

void ServiceDialogsTest::deviceInfo() {
    SoftwareInfoPanel dialog;
    dialog.setNumber(-1);
    dialog.show();
    QCOMPARE(dialog.headerLabel()->text(),
             QString("Считать данные о модификации программного обеспечения прибора не удалось"));
    for (QLineEdit* field : {dialog.nameField(), dialog.versionField(), dialog.identifierField()}) {
        QCOMPARE(field->text(), QString("-"));
        QVERIFY(field->isReadOnly());
    }
    dialog.accept();

    dialog.setNumber(3);
    dialog.setVersion("v1.2");
    dialog.setName("zta.hex");
    dialog.setIdentifier("0123456789abcdef0123456789abcdef");
    dialog.show();
    QCOMPARE(dialog.headerLabel()->text(),
             QString("В приборе №3 содержится следующая модификация программного обеспечения:"));
    QCOMPARE(dialog.versionField()->text(), QString("v1.2"));
    QCOMPARE(dialog.nameField()->text(), QString("zta.hex"));
    QCOMPARE(dialog.identifierField()->text(), QString("0123456789abcdef0123456789abcdef"));
    dialog.accept();

    // Nothing read after a lost contact: back to the dashes, not the last texts.
    dialog.setNumber(-1);
    dialog.show();
    QCOMPARE(dialog.versionField()->text(), QString("-"));
}

void ServiceDialogsTest::timerSet() {
    QCOMPARE(timerSetPrompt(-1),
             QString("Введите время в секундах через которое будет производится запись "
                     "показаний с группы приборов."));
    QCOMPARE(timerSetPrompt(12), QString("Введите время в секундах через которое будет "
                                         "производится запись показаний с прибора № 12"));

    RecordTimerDialog dialog;
    dialog.setNetworkNumber(12);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("Установка таймера"));
    QCOMPARE(dialog.promptLabel()->text(), timerSetPrompt(12));
    QCOMPARE(dialog.periodField()->text(), QString("0"));

    retype(dialog.periodField(), "1.5");
    dialog.okButton()->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(prompter().boxes().back().text, QString("Please enter an integer."));

    // Negative or beyond a day (the milliseconds would not fit the timer): refused.
    for (const char* bad : {"-5", "86401", "99999999999"}) {
        retype(dialog.periodField(), bad);
        dialog.okButton()->click();
        QVERIFY2(dialog.isVisible(), bad);
        QCOMPARE(prompter().boxes().back().text,
                 QString("Please enter an integer between 0 and 86400."));
    }
    QCOMPARE(dialog.period(), 0);

    retype(dialog.periodField(), "10");
    dialog.okButton()->click();
    QVERIFY(accepted(dialog));
    QCOMPARE(dialog.period(), 10);

    RecordTimerDialog zero;
    zero.show();
    QCOMPARE(zero.promptLabel()->text(), timerSetPrompt(-1));
    zero.okButton()->click();
    QVERIFY(accepted(zero));
    QCOMPARE(zero.period(), 0);  // the caller starts nothing
}

void ServiceDialogsTest::insertString() {
    NoteDialog dialog;
    dialog.setNetworkNumber(-1);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("Вставка строки в документы всех приборов"));
    QTest::keyClicks(dialog.textField(), "probe 1");
    dialog.textField()->insertPlainText("\nпроба газа");
    dialog.insertButton()->click();
    QVERIFY(accepted(dialog));
    QCOMPARE(dialog.text(), QString("probe 1\nпроба газа"));

    NoteDialog one;
    one.setNetworkNumber(4);
    one.setText("старая");
    one.show();
    QCOMPARE(one.windowTitle(), QString("Вставка строки в документ прибора № 4"));
    QCOMPARE(one.textField()->textCursor().selectedText(), QString("старая"));
    QTest::keyClicks(one.textField(), "new");
    one.reject();
    QCOMPARE(one.text(), QString("старая"));  // cancel keeps nothing typed
}

// A note ends a record line that goes out in one small append: the dialog says how long it may
// be and takes no more, typed or pasted.
void ServiceDialogsTest::insertStringLimit() {
    NoteDialog dialog;
    dialog.setNetworkNumber(2);
    dialog.setText(QString(1500, QLatin1Char('o')));
    dialog.show();
    QCOMPARE(dialog.limitLabel()->text(), QString("Не более 1000 знаков"));
    QCOMPARE(dialog.textField()->toPlainText().size(), 1000);
    dialog.textField()->clear();
    QTest::keyClicks(dialog.textField(), "ab");
    dialog.textField()->insertPlainText(QString(2000, QLatin1Char('p')));
    QTest::keyClicks(dialog.textField(), "q");
    const QString shown = dialog.textField()->toPlainText();
    QCOMPARE(shown.size(), 1000);
    QVERIFY(shown.startsWith("abpp"));
    QVERIFY(!shown.contains('q'));
    dialog.insertButton()->click();
    QVERIFY(accepted(dialog));
    QCOMPARE(dialog.text(), shown);
}

QTEST_MAIN(ServiceDialogsTest)
#include "service_dialogs_test.moc"
