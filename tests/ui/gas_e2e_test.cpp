// SPDX-License-Identifier: GPL-3.0-or-later
// The calibration gas from end to end: chosen in the main window (gas menu, "Концентрация",
// "Параметры подключенных приборов"), sent by an analyzer window's calibration commands to a
// simulated analyzer, and kept in the calibration file from one start of the station to the
// next.

#include <QCheckBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <functional>
#include <memory>
#include <vector>

#include "app/cal_data_file.h"
#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/form_window_factory.h"
#include "gas/connected_gas_parameters_dialog.h"
#include "gas/gas_parameters_dialog.h"
#include "sim/bus.h"
#include "sim_writes.h"
#include "station_support.h"
#include "ui/command_ids.h"
#include "ui/dialogs.h"

using namespace zta;

namespace {

constexpr int kWaitMs = 15000;
constexpr int kExtended = 5;  // reports its own gas parameters as text
constexpr int kUnknown = 6;   // a standard model with a gas code the table does not know
constexpr int kRegMiddle = 2;
constexpr int kRegHigh = 3;

// The analyzer pads its text block with blanks, which end up after the units.
QString cell(const QTableWidget* list, int row, int column) {
    const QTableWidgetItem* item = list->item(row, column);
    return item ? item->text().trimmed() : QString();
}

}  // namespace

class GasE2eTest : public QObject {
    Q_OBJECT

    std::unique_ptr<zta::sim::Bus> bus_;
    QTemporaryDir dir_;
    QString calPath_;
    std::unique_ptr<TestStation> st_;
    QMdiSubWindow* children_[2] = {};

    MainWindow* frame() const { return st_->frame; }

    // A station reading the calibration file of this test, with windows for both analyzers,
    // connected and in contact with them.
    void startStation() {
        st_ = std::make_unique<TestStation>(QStringList{QString::fromStdString(bus_->portPath())},
                                            std::make_unique<FormWindowFactory>(), calPath_);
        MainWindow* f = frame();
        f->station().setPollTiming(fastTiming());
        f->openNewDocument();
        const auto children = f->mdiArea()->subWindowList();
        QCOMPARE(children.size(), 2);
        const int addresses[2] = {kExtended, kUnknown};
        for (int i = 0; i < 2; ++i) {
            children_[i] = children[i];
            viewIn(children[i])->numberField()->setText(QString::number(addresses[i]));
        }
        f->connectLine();
        for (QMdiSubWindow* child : children_) {
            AnalyzerView* v = viewIn(child);
            QVERIFY2(QTest::qWaitFor([v] { return v->getDocument().linkUp; }, kWaitMs),
                     "no contact with a simulated analyzer");
        }
    }

    // Closes the station as the operator does, with polling running.
    void closeStation() {
        st_->app->onCommand(CommandId::Exit);
        st_.reset();
    }

    // Runs a calibration command in the window of the analyzer at kExtended, answers OK to its
    // confirmation and waits for the analyzer to apply the write.
    void calibrate(CommandId id, const QString& confirmation, int reg, int value) {
        bus_->clearLog();
        st_->dialogs.clear();
        frame()->mdiArea()->setActiveSubWindow(children_[0]);
        QVERIFY(frame()->router().query(id).enabled);
        QVERIFY(frame()->router().dispatch(id));
        // The analyzer reports methane: for any other station gas the confirmation follows a
        // gas warning that names it.
        const auto& boxes = st_->dialogs.boxes();
        QVERIFY(boxes.size() == 1 || boxes.size() == 2);
        if (boxes.size() == 2) QVERIFY(boxes[0].text.contains(QStringLiteral("Метан")));
        QCOMPARE(boxes.back().text, confirmation);
        QCOMPARE(appliedWrite(*bus_, frame()->block(), kExtended, reg, kWaitMs),
                 writeFrame(kExtended, reg, value));
    }

    // What the calibration file holds right now.
    void expectFile(const QString& name, double maxGas, double midGas) {
        zta::CalData data;
        QCOMPARE(zta::readCalDataFile(calPath_, data).status, zta::CalReadStatus::Loaded);
        QCOMPARE(data.calGasName, name);
        QCOMPARE(data.maxGas, maxGas);
        QCOMPARE(data.midGas, midGas);
    }

    void expectPanes(const QString& name, const QString& maxGas, const QString& midGas) {
        QCOMPARE(frame()->paneText(3), name);
        QCOMPARE(frame()->paneText(4), maxGas);
        QCOMPARE(frame()->paneText(5), midGas);
    }

    void expectOnlyMark(CommandId markedId) {
        for (CommandId id : kGasMenuIds)
            QCOMPARE(frame()->router().query(id).checked, id == markedId);
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        calPath_ = dir_.filePath(QStringLiteral("CalDataK7.cfg"));
        bus_ = zta::sim::Bus::openPty();
        QVERIFY(bus_);
        zta::sim::AnalyzerConfig a;
        a.address = kExtended;
        a.textBlock = "500 250 480 Метан об.доли";
        bus_->addAnalyzer(a);
        a.address = kUnknown;
        a.model = zta::sim::Model::Standard;
        a.gasCode = 9;
        bus_->addAnalyzer(a);
        bus_->start();
        startStation();
    }

    void cleanupTestCase() {
        if (st_) closeStation();
        bus_.reset();
    }

    void gasFromTheMenuReachesTheAnalyzer() {
        QVERIFY(!QFile::exists(calPath_));
        QVERIFY(!frame()->router().query(CommandId::Concentration).enabled);
        QVERIFY(frame()->router().dispatch(CommandId::GasPropane));
        expectPanes("Пропан", "1.70", "0.80");
        expectOnlyMark(CommandId::GasPropane);
        expectFile("Пропан", 1.7, 0.8);

        calibrate(CommandId::HighGas,
                  "Установить газ максимальной концентрации (1.70 Об. долей) в приборе № 5 ?",
                  kRegHigh, 1700);
        calibrate(CommandId::MiddleGas,
                  "Установить газ средней концентрации (0.80 Об. долей) в приборе № 5 ?",
                  kRegMiddle, 800);
        QCOMPARE(bus_->state(kExtended)->maxGasValue, 1700);
        QCOMPARE(bus_->state(kExtended)->midGasValue, 800);
    }

    void concentrationInLelReachesTheAnalyzer() {
        // 90 and 40 %НКПР of propane: integer parts of 153 and 68 hundredths.
        st_->dialogs.runs.push_back([](QDialog& d) {
            auto& dialog = static_cast<GasParametersDialog&>(d);
            dialog.show();
            dialog.lelBox()->click();
            dialog.maximumField()->setText(QStringLiteral("90"));
            dialog.middleField()->setText(QStringLiteral("40"));
            dialog.setButton()->click();
            const int result = dialog.result();
            dialog.hide();
            return result;
        });
        QVERIFY(frame()->router().dispatch(CommandId::Concentration));
        QVERIFY(st_->dialogs.runs.empty());
        expectPanes("Пропан", "1.53", "0.68");
        expectOnlyMark(CommandId::GasPropane);
        expectFile("Пропан", 1.53, 0.68);

        calibrate(CommandId::ToolHighGas,
                  "Установить газ максимальной концентрации (1.53 Об. долей) в приборе № 5 ?",
                  kRegHigh, 1530);
        calibrate(CommandId::ToolMiddleGas,
                  "Установить газ средней концентрации (0.68 Об. долей) в приборе № 5 ?",
                  kRegMiddle, 680);
    }

    void choiceSurvivesARestart() {
        closeStation();
        expectFile("Пропан", 1.53, 0.68);
        startStation();
        expectPanes("Пропан", "1.53", "0.68");
        expectOnlyMark(CommandId::GasPropane);
        // Restored, not picked: "Концентрация" waits for a pick from the menu.
        QVERIFY(!frame()->router().query(CommandId::Concentration).enabled);
        calibrate(CommandId::HighGas,
                  "Установить газ максимальной концентрации (1.53 Об. долей) в приборе № 5 ?",
                  kRegHigh, 1530);
    }

    void connectedAnalyzersChoiceReachesTheAnalyzer() {
        QTRY_COMPARE_WITH_TIMEOUT(
            QString::fromStdString(frame()->block().snapshot(0).texts.gasName), QString("Метан"),
            kWaitMs);
        QVERIFY(frame()->router().query(CommandId::ConnectedDevicesGas).enabled);
        QStringList lines[2];
        QStringList refusals;
        st_->dialogs.runs.push_back([&](QDialog& d) {
            auto& dialog = static_cast<ConnectedGasParametersDialog&>(d);
            dialog.show();
            QTableWidget* list = dialog.list();
            for (int r = 0; r < std::min(list->rowCount(), 2); ++r)
                for (int c = 0; c < list->columnCount(); ++c) lines[r] << cell(list, r, c);
            // The analyzer whose gas code has no defaults: its zeros are never applied.
            list->selectRow(1);
            dialog.okButton()->click();
            for (const auto& box : st_->dialogs.boxes()) refusals << box.text;
            st_->dialogs.clear();
            list->selectRow(0);
            dialog.okButton()->click();
            const int result = dialog.result();
            dialog.hide();
            return result;
        });
        st_->dialogs.clear();
        QVERIFY(frame()->router().dispatch(CommandId::ConnectedDevicesGas));
        QVERIFY(st_->dialogs.runs.empty());
        QCOMPARE(lines[0], (QStringList{"1", "Метан", "5.00", "об.доли", "2.50", "4.80"}));
        QCOMPARE(lines[1], (QStringList{"2", "-", "0.00", "об.доли", "0.00", "0.00"}));
        QCOMPARE(refusals,
                 QStringList{"Значение газа средней концентрации больше значения газа высокой "
                             "концентрации."});
        QCOMPARE(st_->dialogs.boxes().size(), size_t(1));
        QCOMPARE(st_->dialogs.boxes()[0].caption, QString("Установка"));

        expectPanes("Метан", "4.80", "2.50");
        expectOnlyMark(CommandId::GasMethane);
        QVERIFY(!frame()->router().query(CommandId::Concentration).enabled);
        expectFile("Метан", 4.8, 2.5);
        calibrate(CommandId::HighGas,
                  "Установить газ максимальной концентрации (4.80 Об. долей) в приборе № 5 ?",
                  kRegHigh, 4800);
        calibrate(CommandId::MiddleGas,
                  "Установить газ средней концентрации (2.50 Об. долей) в приборе № 5 ?",
                  kRegMiddle, 2500);
    }
};

QTEST_MAIN(GasE2eTest)
#include "gas_e2e_test.moc"
