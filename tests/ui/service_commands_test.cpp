// SPDX-License-Identifier: GPL-3.0-or-later
// Service commands of an analyzer window: refusals and confirmations with their exact texts,
// the value dialogs and what they leave in the slot, the enabling rules on the real station's
// route, and end to end against simulated analyzers: each confirmed command reaches the
// analyzer as its exact write and the window shows the effect.

#include "commands/service_commands.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>
#include <set>

#include "commands/service_dialogs.h"
#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/form_window_factory.h"
#include "device_support.h"
#include "link/modbus.h"
#include "poll/command_table.h"
#include "sim/bus.h"
#include "sim_writes.h"
#include "station_support.h"
#include "ui/command_ids.h"
#include "ui/command_table.h"
#include "ui/command_texts.h"
#include "ui/device_icons.h"
#include "ui/dialogs.h"

using namespace zta;

namespace {

constexpr int kWaitMs = 15000;

struct Refusal {
    CommandId id;
    const char* text;
};

// The tool buttons carry the same refusals as their menu items.
const Refusal kRefusals[] = {
    {CommandId::ChangeNumber,
     "Смена номера не может быть произведена.\r\n      Проверьте подключение прибора. "},
    {CommandId::ToolChangeSpeed,
     "Смена скорости не может быть произведена.\r\n       Проверьте подключение прибора. "},
    {CommandId::ToolSetZero,
     "Установка нуля не может быть произведена.\r\n       Проверьте подключение прибора. "},
    {CommandId::HighGas,
     "Установка по газу не может быть произведена.\r\n       Проверьте подключение прибора. "},
    {CommandId::ToolMiddleGas,
     "Установка по газу не может быть произведена.\r\n       Проверьте подключение прибора. "},
    {CommandId::TypicalConcentration,
     "Установка исходной концентрации не может быть произведена.\r\n"
     "                  Проверьте подключение прибора. "},
};

struct Confirmation {
    CommandId id;
    const char* text;
    const char* caption;
    zta::Command command;
};

const Confirmation kConfirmations[] = {
    {CommandId::SetZero, "Установить нуль в приборе № 7 ?", "Установка нуля", zta::Command::Zero},
    {CommandId::ToolHighGas,
     "Установить газ максимальной концентрации (4.40 Об. долей) в приборе № 7 ?",
     "Установка по газу", zta::Command::MaxGas},
    {CommandId::MiddleGas, "Установить газ средней концентрации (2.70 Об. долей) в приборе № 7 ?",
     "Установка по газу", zta::Command::MidGas},
    {CommandId::ToolTypicalConcentration, "Загрузить типовые значения концентрации в приборе № 7 ?",
     "Установка исходной концентрации", zta::Command::Typical},
};

template <class D>
D* as(QDialog& d) {
    auto* dialog = qobject_cast<D*>(&d);
    if (!dialog) qFatal("unexpected dialog %s", d.metaObject()->className());
    return dialog;
}

void type(QLineEdit* field, const QString& text) {
    field->selectAll();
    QTest::keyClicks(field, text);
}

// Two analyzers on a pseudo-terminal and a station connected to them, shared by the end-to-end
// cases in the order they are declared.
struct Rig {
    std::unique_ptr<zta::sim::Bus> bus;
    std::unique_ptr<TestStation> st;
    QMdiSubWindow* children[2] = {};
    AnalyzerView* views[2] = {};
};

}  // namespace

class ServiceCommandsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeHost> host_;
    std::unique_ptr<ScriptedDialogs> prompter_;
    std::unique_ptr<Rig> rig_;
    // Acts on the next service dialog once it is shown; the runner then gives its result.
    std::function<void(QDialog&)> answer_;
    ScriptedDialogs::Runner runner_;
    int dialogsRun_ = 0;
    QString dialogTitle_;

    AnalyzerSubWindow* open(int address = 7) {
        AnalyzerSubWindow* w = openAnalyzerWindow(*host_, host_->area);
        w->view()->numberField()->setText(QString::number(address));
        return w;
    }
    zta::Slot slotOf(AnalyzerSubWindow* w) const {
        return host_->pollBlock.snapshot(w->document().slot);
    }

    Rig& R() {
        if (!rig_) {
            rig_ = std::make_unique<Rig>();
            rig_->bus = zta::sim::Bus::openPty();
            if (!rig_->bus) qFatal("no pseudo-terminal");
            zta::sim::AnalyzerConfig a;
            a.address = 3;
            a.gasCode = 2;
            a.threshold1 = 20;
            a.threshold2 = 50;
            rig_->bus->addAnalyzer(a);
            a.address = 4;
            a.model = zta::sim::Model::Standard;
            rig_->bus->addAnalyzer(a);
            rig_->bus->start();
            rig_->st = std::make_unique<TestStation>(
                QStringList{QString::fromStdString(rig_->bus->portPath())},
                std::make_unique<FormWindowFactory>());
            MainWindow* f = rig_->st->frame;
            f->station().setPollTiming(fastTiming());
            f->openNewDocument();
            const auto children = f->mdiArea()->subWindowList();
            for (int i = 0; i < 2; ++i) {
                rig_->children[i] = children[i];
                rig_->views[i] = viewIn(children[i]);
                rig_->views[i]->numberField()->setText(QString::number(3 + i));
            }
            f->connectLine();
        }
        rig_->st->dialogs.runDialog = runner_;
        setDialogs(&rig_->st->dialogs);
        rig_->st->dialogs.clear();
        for (AnalyzerView* v : rig_->views)
            if (!QTest::qWaitFor([v] { return v->getDocument().linkUp; }, kWaitMs))
                qFatal("no link with analyzer %d", v->getDocument().address);
        return *rig_;
    }

    // Runs `id` in the window `index` of the rig, as the menu or tool bar would.
    void run(Rig& r, int index, CommandId id) {
        r.st->frame->mdiArea()->setActiveSubWindow(r.children[index]);
        QVERIFY(r.st->frame->router().query(id).enabled);
        QVERIFY(r.st->frame->router().dispatch(id));
    }

    static std::vector<uint8_t> applied(Rig& r, int address, int reg) {
        return appliedWrite(*r.bus, r.st->frame->block(), address, reg, kWaitMs);
    }

    // Waits until `pred` holds for the bus log. The window thread keeps serving events
    // meanwhile: the poll thread waits for each data notice to be taken.
    static bool waitLog(const zta::sim::Bus& bus,
                        const std::function<bool(const std::vector<zta::sim::LogEntry>&)>& pred) {
        return QTest::qWaitFor([&] { return pred(bus.log()); }, kWaitMs);
    }

  private slots:
    void initTestCase() {
        runner_ = [this](QDialog& d) {
            ++dialogsRun_;
            d.show();
            dialogTitle_ = d.windowTitle();
            if (answer_) answer_(d);
            const int result = d.result();
            d.hide();
            return result;
        };
    }

    void cleanupTestCase() {
        rig_.reset();
        setDialogs(nullptr);
    }

    // A command is one row in the engine's table (what goes on the wire) and one in the
    // windows' (names, mark, menu and tool), and has a dialog; a row missing anywhere, or two
    // rows claiming one menu item, would leave a command that cannot be sent or shown.
    void everyCommandHasItsRowInBothTablesAndADialog() {
        std::set<zta::Command> engine, windows;
        for (const zta::CommandRow& row : zta::commandTable()) engine.insert(row.command);
        for (const zta::CommandUiRow& row : zta::commandUiTable()) windows.insert(row.command);
        QCOMPARE(int(zta::commandTable().size()), zta::kCommandKinds);
        QCOMPARE(int(zta::commandUiTable().size()), zta::kCommandKinds);
        std::set<CommandId> ids;
        AnalyzerDocument unregistered;
        const DocumentCommandHandlers handlers = serviceCommandHandlers();
        for (int i = 0; i < zta::kCommandKinds; ++i) {
            const zta::Command c = zta::commandAt(i);
            QVERIFY2(engine.count(c) && windows.count(c), qPrintable(zta::commandName(c)));
            QCOMPARE(zta::commandRow(c).command, c);
            QCOMPARE(zta::commandUi(c).command, c);
            QVERIFY(!zta::commandName(c).isEmpty());
            QVERIFY(zta::hasServiceDialog(c));
            for (CommandId id : {zta::commandUi(c).menuId, zta::commandUi(c).toolId}) {
                if (id == CommandId::None) continue;
                QVERIFY2(ids.insert(id).second, "a menu item or tool button claimed twice");
                QCOMPARE(zta::commandUiOf(id)->command, c);
                CommandState state;
                QVERIFY(handlers.onUpdateCommand(unregistered, id, state));
            }
        }
    }

    void init() {
        setDocumentCommandHandlers(serviceCommandHandlers());
        host_ = std::make_unique<FakeHost>();
        prompter_ = std::make_unique<ScriptedDialogs>();
        prompter_->runDialog = runner_;
        setDialogs(prompter_.get());
        answer_ = nullptr;
        dialogsRun_ = 0;
        dialogTitle_.clear();
    }

    void cleanup() {
        host_->area.closeAllSubWindows();
        qDeleteAll(host_->area.subWindowList());
        host_.reset();
        setDialogs(nullptr);
        prompter_.reset();
    }

    void connectionCommandsRefuseWithoutPollingOrSlot() {
        AnalyzerSubWindow* w = open();
        for (const bool polling : {false, true}) {
            host_->polling = polling;
            if (polling) host_->pollBlock.close(w->document().slot);  // the slot is gone
            for (const Refusal& r : kRefusals) {
                prompter_->clear();
                QVERIFY(w->document().onCommand(r.id));
                QCOMPARE(prompter_->boxes().size(), size_t(1));
                const auto& box = prompter_->boxes()[0];
                QCOMPARE(box.text, QString::fromUtf8(r.text));
                QCOMPARE(box.caption, QStringLiteral("Ошибка"));
                QCOMPARE(box.icon, Dialogs::Icon::Information);
                QCOMPARE(box.buttons, int(Dialogs::Ok));
            }
        }
        QCOMPARE(dialogsRun_, 0);
        QVERIFY(!host_->pollBlock.snapshot(0).pending.anyPending());
    }

    void confirmationsSetTheirFlagOnOkOnly() {
        AnalyzerSubWindow* w = open(7);
        host_->polling = true;
        for (const Confirmation& c : kConfirmations) {
            prompter_->clear();
            prompter_->answer(Dialogs::ResultCancel);
            QVERIFY(w->document().onCommand(c.id));
            QCOMPARE(prompter_->boxes().size(), size_t(1));
            const auto& box = prompter_->boxes()[0];
            QCOMPARE(box.text, QString::fromUtf8(c.text));
            QCOMPARE(box.caption, QString::fromUtf8(c.caption));
            QCOMPARE(box.icon, Dialogs::Icon::Question);
            QCOMPARE(box.buttons, int(Dialogs::Ok | Dialogs::Cancel));
            QVERIFY(!slotOf(w).pending.anyPending());

            prompter_->answer(Dialogs::ResultOk);
            QVERIFY(w->document().onCommand(c.id));
            QVERIFY(slotOf(w).pending.isPending(c.command));
            // Cancel later leaves the confirmed request in place.
            prompter_->answer(Dialogs::ResultCancel);
            QVERIFY(w->document().onCommand(c.id));
            QVERIFY(slotOf(w).pending.isPending(c.command));
            host_->store(w->document().slot, [](zta::Slot& s) { s.pending.clearPending(); });
        }
    }

    void numberAndSpeedDialogsWriteValueThenFlag() {
        AnalyzerSubWindow* w = open(7);
        host_->polling = true;
        answer_ = [](QDialog& d) {
            auto* dialog = as<NetworkNumberDialog>(d);
            type(dialog->numberField(), QStringLiteral("256"));
            dialog->setButton()->click();  // refused inside the dialog
            QVERIFY(dialog->isVisible());
            type(dialog->numberField(), QStringLiteral("255"));
            dialog->setButton()->click();
        };
        w->document().onCommand(CommandId::ToolChangeNumber);
        QCOMPARE(dialogTitle_, QStringLiteral("Смена номера прибора № 7"));
        QVERIFY(slotOf(w).pending.isPending(zta::Command::NewAddress));
        QCOMPARE(slotOf(w).pending.value(zta::Command::NewAddress), double(255));

        answer_ = [](QDialog& d) {
            auto* dialog = as<BaudRateDialog>(d);
            dialog->speedList()->setCurrentIndex(4);
            dialog->applyButton()->click();
        };
        w->document().onCommand(CommandId::ChangeSpeed);
        QCOMPARE(dialogTitle_, QStringLiteral("Смена скорости прибора № 7"));
        QVERIFY(slotOf(w).pending.isPending(zta::Command::NewBaud));
        QCOMPARE(slotOf(w).pending.value(zta::Command::NewBaud), double(0x10));

        // Cancel writes nothing, not even the value.
        host_->store(w->document().slot, [](zta::Slot& s) { s.pending.clearPending(); });
        answer_ = [](QDialog& d) {
            type(as<NetworkNumberDialog>(d)->numberField(), QStringLiteral("9"));
            d.reject();
        };
        w->document().onCommand(CommandId::ChangeNumber);
        answer_ = [](QDialog& d) { d.reject(); };
        w->document().onCommand(CommandId::ToolChangeSpeed);
        QCOMPARE(dialogsRun_, 4);
        QVERIFY(!slotOf(w).pending.anyPending());
        QCOMPARE(slotOf(w).pending.value(zta::Command::NewAddress), double(255));
    }

    // The dialog's event loop may see another window close; the request still goes to the
    // analyzer it was confirmed for, in that window's new slot.
    void requestFollowsItsWindowWhenAnotherClosesMeanwhile() {
        AnalyzerSubWindow* first = open(7);
        AnalyzerSubWindow* second = open(8);
        host_->polling = true;
        answer_ = [first](QDialog& d) {
            delete first;
            type(as<NetworkNumberDialog>(d)->numberField(), QStringLiteral("20"));
            as<NetworkNumberDialog>(d)->setButton()->click();
        };
        second->document().onCommand(CommandId::ChangeNumber);
        QCOMPARE(dialogTitle_, QStringLiteral("Смена номера прибора № 8"));
        QCOMPARE(host_->pollBlock.windowCount(), 1);
        const zta::Slot s = host_->pollBlock.snapshot(0);
        QCOMPARE(s.address, 8);
        QVERIFY(s.pending.isPending(zta::Command::NewAddress));
        QCOMPARE(s.pending.value(zta::Command::NewAddress), double(20));
        QVERIFY(!host_->pollBlock.snapshot(1).pending.anyPending());
    }

    void thresholdsNeedNoConnection() {
        AnalyzerSubWindow* w = open(7);
        AnalyzerDocument& doc = w->document();
        QVERIFY(!host_->polling);
        // Butane shows threshold 20 as 1.00; 1.5 in its units is 30 for the analyzer.
        doc.readings.gasCode = 4;
        doc.readings.threshold1 = 20;
        QString shown;
        answer_ = [&shown](QDialog& d) {
            auto* dialog = as<ThresholdDialog>(d);
            shown = dialog->valueField()->text();
            type(dialog->valueField(), QStringLiteral("1.5"));
            dialog->setButton()->click();
        };
        doc.onCommand(CommandId::Threshold1);
        QCOMPARE(dialogTitle_, QStringLiteral("Установка порога 1 в приборе № 7"));
        QCOMPARE(shown, QStringLiteral("1.00"));
        QVERIFY(slotOf(w).pending.isPending(zta::Command::Threshold1));
        QCOMPARE(slotOf(w).pending.value(zta::Command::Threshold1), double(30));

        // Truncated, not rounded.
        doc.readings.gasCode = 2;
        doc.readings.threshold2 = 50;
        answer_ = [&shown](QDialog& d) {
            auto* dialog = as<ThresholdDialog>(d);
            shown = dialog->valueField()->text();
            type(dialog->valueField(), QStringLiteral("37.9"));
            dialog->setButton()->click();
        };
        doc.onCommand(CommandId::ToolThreshold2);
        QCOMPARE(dialogTitle_, QStringLiteral("Установка порога 2 в приборе № 7"));
        QCOMPARE(shown, QStringLiteral("50"));
        QVERIFY(slotOf(w).pending.isPending(zta::Command::Threshold2));
        QCOMPARE(slotOf(w).pending.value(zta::Command::Threshold2), double(37));

        // A second request before the first went out replaces its value.
        answer_ = [](QDialog& d) {
            type(as<ThresholdDialog>(d)->valueField(), QStringLiteral("100"));
            as<ThresholdDialog>(d)->setButton()->click();
        };
        doc.onCommand(CommandId::Threshold2);
        QCOMPARE(slotOf(w).pending.value(zta::Command::Threshold2), double(100));
        QVERIFY(prompter_->boxes().empty());
    }

    void secondThresholdOfAVrmAnalyzerIsRefused() {
        AnalyzerSubWindow* w = open(7);
        w->document().readings.gasCode = 5;
        for (const bool polling : {false, true}) {
            host_->polling = polling;
            prompter_->clear();
            w->document().onCommand(CommandId::Threshold2);
            QCOMPARE(prompter_->boxes().size(), size_t(1));
            QCOMPARE(prompter_->boxes()[0].text,
                     QStringLiteral("Прибор VRM имеет только один порог.\r\n"));
            QCOMPARE(prompter_->boxes()[0].caption, QStringLiteral("Внимание"));
            QCOMPARE(prompter_->boxes()[0].icon, Dialogs::Icon::Information);
        }
        QCOMPARE(dialogsRun_, 0);
        answer_ = [](QDialog& d) { as<ThresholdDialog>(d)->setButton()->click(); };
        w->document().onCommand(CommandId::Threshold1);  // threshold 1 still works
        QCOMPARE(dialogsRun_, 1);
        QVERIFY(slotOf(w).pending.isPending(zta::Command::Threshold1));
        QVERIFY(!slotOf(w).pending.isPending(zta::Command::Threshold2));
    }

    void f6AsksForTheFactoryNumberWithoutLink() {
        AnalyzerSubWindow* w = open(7);
        w->document().readings.factoryNumber = 1234;
        QVERIFY(!w->document().linkUp);
        QString prompt;
        QString initial;
        answer_ = [&](QDialog& d) {
            auto* dialog = as<FactoryNumberDialog>(d);
            prompt = dialog->promptLabel()->text();
            initial = dialog->numberField()->text();
            type(dialog->numberField(), QStringLiteral("4321"));
            dialog->okButton()->click();
        };
        QTest::keyRelease(w->view(), Qt::Key_F6);
        QCOMPARE(dialogsRun_, 1);
        QCOMPARE(prompt,
                 QStringLiteral("Введите новый заводской номер прибора с сетевым номером 7"));
        QCOMPARE(initial, QStringLiteral("1234"));
        QVERIFY(slotOf(w).pending.isPending(zta::Command::FactoryNumber));
        QCOMPARE(slotOf(w).pending.value(zta::Command::FactoryNumber), 4321.0);

        host_->store(w->document().slot, [](zta::Slot& s) { s.pending.clearPending(); });
        answer_ = [](QDialog& d) { d.reject(); };
        QTest::keyRelease(w->view(), Qt::Key_F6);
        QVERIFY(!slotOf(w).pending.anyPending());
    }

    void enablingFollowsTheActiveWindowAndItsLink() {
        TestStation st({QStringLiteral("ttyS0")}, std::make_unique<FormWindowFactory>());
        MainWindow* f = st.frame;
        QMdiSubWindow* child = f->mdiArea()->subWindowList().value(0);
        QVERIFY(child);
        f->mdiArea()->setActiveSubWindow(child);
        QCOMPARE(f->mdiArea()->currentSubWindow(), child);
        AnalyzerDocument& doc = viewIn(child)->getDocument();
        const CommandId always[] = {CommandId::ChangeNumber,
                                    CommandId::ChangeSpeed,
                                    CommandId::SetZero,
                                    CommandId::HighGas,
                                    CommandId::MiddleGas,
                                    CommandId::TypicalConcentration,
                                    CommandId::Threshold1,
                                    CommandId::Threshold2,
                                    CommandId::ToolSetZero,
                                    CommandId::ToolHighGas,
                                    CommandId::ToolMiddleGas,
                                    CommandId::ToolChangeSpeed,
                                    CommandId::ToolTypicalConcentration,
                                    CommandId::ToolThreshold1,
                                    CommandId::ToolThreshold2,
                                    CommandId::ToolRecord};
        const CommandId whenResponding[] = {CommandId::ToolChangeNumber, CommandId::Record,
                                            CommandId::SoftwareInfoActive};
        for (const bool link : {false, true}) {
            doc.linkUp = link;
            for (CommandId id : always)
                QVERIFY2(f->router().query(id).enabled, qPrintable(QString::number(int(id))));
            for (CommandId id : whenResponding) QCOMPARE(f->router().query(id).enabled, link);
        }
        // The menu item and the tool button run the same command.
        f->router().dispatch(CommandId::ToolSetZero);
        QCOMPARE(st.dialogs.boxes().back().text, QString::fromUtf8(kRefusals[2].text));

        f->mdiArea()->closeAllSubWindows();
        QTRY_VERIFY(f->mdiArea()->subWindowList().isEmpty());
        for (CommandId id : always) QVERIFY(!f->router().query(id).enabled);
        QVERIFY(!f->router().query(CommandId::ToolChangeNumber).enabled);
    }

    // ---------------------------------------------------------------- against the simulator

    void zeroHighAndMiddleGasAndTypicalReachTheAnalyzer() {
        Rig& r = R();
        struct Case {
            CommandId id;
            int reg;
            int value;
        };
        const Case cases[] = {{CommandId::SetZero, 1, 0},
                              {CommandId::ToolHighGas, 3, 4400},
                              {CommandId::MiddleGas, 2, 2700},
                              {CommandId::ToolTypicalConcentration, 4, 1}};
        for (const Case& c : cases) {
            r.bus->clearLog();
            run(r, 0, c.id);
            QCOMPARE(applied(r, 3, c.reg), writeFrame(3, c.reg, c.value));
        }
        const auto state = r.bus->state(3);
        QVERIFY(state);
        // An echo lost to a loaded machine makes the station send the write again; the
        // analyzer then applies it twice, which is what the bus would do too.
        QVERIFY(state->zeroCount >= 1);
        QCOMPARE(state->maxGasValue, 4400);
        QCOMPARE(state->midGasValue, 2700);
        QVERIFY(state->typicalCount >= 1);
        // Zero setting shows in the window.
        QTRY_COMPARE_WITH_TIMEOUT(r.views[0]->text(FormField::ConcentrationLel),
                                  QStringLiteral("0"), kWaitMs);
    }

    void cancelSendsNothing() {
        Rig& r = R();
        const int zerosBefore = r.bus->state(3)->zeroCount;
        r.bus->clearLog();
        r.st->dialogs.answer(Dialogs::ResultCancel);
        run(r, 0, CommandId::SetZero);
        answer_ = [](QDialog& d) { d.reject(); };
        run(r, 0, CommandId::Threshold1);
        QCOMPARE(dialogsRun_, 1);
        // Several more turns of that analyzer, none of them a write.
        QVERIFY(waitLog(*r.bus, [](const std::vector<zta::sim::LogEntry>& log) {
            int reads = 0;
            for (const auto& e : log)
                reads += e.kind == zta::sim::LogEntry::Kind::Request && e.address == 3 &&
                         e.bytes.size() > 1 && e.bytes[1] == zta::kFnReadInput;
            return reads >= 3;
        }));
        for (const auto& e : r.bus->log())
            QVERIFY(e.kind != zta::sim::LogEntry::Kind::WriteApplied);
        QCOMPARE(r.bus->state(3)->zeroCount, zerosBefore);
    }

    // The trend's mark stands for what the analyzer did: none while the zero waits or after it
    // failed, one when its echo confirms it (a late echo too).
    void aTrendMarkComesOnlyWithTheAnalyzersConfirmation() {
        Rig& r = R();
        AnalyzerView* v = r.views[0];
        const auto marks = [v] { return v->getDocument().records().trend()->marks().size(); };
        const size_t before = marks();
        QVERIFY(r.bus->setFault(3, zta::sim::Fault::Silent));
        run(r, 0, CommandId::SetZero);
        QCOMPARE(marks(), before);
        QTRY_VERIFY_WITH_TIMEOUT(v->commandStateText().contains(QStringLiteral("не выполнена")),
                                 kWaitMs);
        QCOMPARE(marks(), before);
        QVERIFY(r.bus->setFault(3, zta::sim::Fault::None));
        QTRY_COMPARE_WITH_TIMEOUT(marks(), before + 1, kWaitMs);
        QVERIFY(v->commandStateText().endsWith(QStringLiteral("\nвыполнена")));
        QCOMPARE(v->getDocument().records().trend()->marks().back().kind, TrendMarkKind::Zero);
        QTRY_VERIFY_WITH_TIMEOUT(v->getDocument().linkUp, kWaitMs);
    }

    void thresholdsShowInTheWindowOnTheNextReads() {
        Rig& r = R();
        QCOMPARE(r.views[0]->text(FormField::Threshold1), QStringLiteral("20"));
        r.bus->clearLog();
        answer_ = [](QDialog& d) {
            type(as<ThresholdDialog>(d)->valueField(), QStringLiteral("37.9"));
            as<ThresholdDialog>(d)->setButton()->click();
        };
        run(r, 0, CommandId::Threshold1);
        QCOMPARE(applied(r, 3, 5), writeFrame(3, 5, 37));
        answer_ = [](QDialog& d) {
            type(as<ThresholdDialog>(d)->valueField(), QStringLiteral("45"));
            as<ThresholdDialog>(d)->setButton()->click();
        };
        run(r, 0, CommandId::ToolThreshold2);
        QCOMPARE(applied(r, 3, 6), writeFrame(3, 6, 45));
        QTRY_COMPARE_WITH_TIMEOUT(r.views[0]->text(FormField::Threshold1), QStringLiteral("37"),
                                  kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(r.views[0]->text(FormField::Threshold2), QStringLiteral("45"),
                                  kWaitMs);
    }

    // Confirmed while the other one still waits for its echo: neither is lost.
    void thresholdsSetInARowBothArrive() {
        Rig& r = R();
        r.bus->clearLog();
        for (const auto& [id, text] :
             {std::pair{CommandId::Threshold1, "30"}, {CommandId::Threshold2, "60"}}) {
            answer_ = [text = QString::fromLatin1(text)](QDialog& d) {
                type(as<ThresholdDialog>(d)->valueField(), text);
                as<ThresholdDialog>(d)->setButton()->click();
            };
            run(r, 0, id);
        }
        QCOMPARE(applied(r, 3, 5), writeFrame(3, 5, 30));
        QCOMPARE(applied(r, 3, 6), writeFrame(3, 6, 60));
        QTRY_COMPARE_WITH_TIMEOUT(r.views[0]->text(FormField::Threshold1), QStringLiteral("30"),
                                  kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(r.views[0]->text(FormField::Threshold2), QStringLiteral("60"),
                                  kWaitMs);
    }

    // A serial number above 32767 shows as itself and is taken back unchanged.
    void factoryNumberShowsInTheWindow() {
        Rig& r = R();
        for (int number : {4321, 40001}) {
            r.bus->clearLog();
            answer_ = [number](QDialog& d) {
                type(as<FactoryNumberDialog>(d)->numberField(), QString::number(number));
                as<FactoryNumberDialog>(d)->okButton()->click();
            };
            r.st->frame->mdiArea()->setActiveSubWindow(r.children[0]);
            QTest::keyRelease(r.views[0], Qt::Key_F6);
            QCOMPARE(applied(r, 3, 7), writeFrame(3, 7, number));
            QTRY_COMPARE_WITH_TIMEOUT(r.views[0]->text(FormField::FactoryNumber),
                                      QString::number(number), kWaitMs);
        }
        r.bus->clearLog();
        QString shown;
        answer_ = [&shown](QDialog& d) {
            shown = as<FactoryNumberDialog>(d)->numberField()->text();
            as<FactoryNumberDialog>(d)->okButton()->click();
        };
        QTest::keyRelease(r.views[0], Qt::Key_F6);
        QCOMPARE(shown, QStringLiteral("40001"));
        QCOMPARE(applied(r, 3, 7), writeFrame(3, 7, 40001));
        QVERIFY(r.st->dialogs.boxes().empty());
    }

    void newNetworkNumberMovesTitleAndFiles() {
        Rig& r = R();
        r.bus->clearLog();
        answer_ = [](QDialog& d) {
            type(as<NetworkNumberDialog>(d)->numberField(), QStringLiteral("9"));
            as<NetworkNumberDialog>(d)->setButton()->click();
        };
        run(r, 0, CommandId::ChangeNumber);
        // New number in the high byte, the line's baud code (9600) in the low one.
        QCOMPARE(applied(r, 3, 0), writeFrame(3, 0, 9 << 8 | 0x08));
        QTRY_COMPARE_WITH_TIMEOUT(r.children[0]->windowTitle(), QStringLiteral("Прибор №9"),
                                  kWaitMs);
        QVERIFY(r.views[0]->recordFile.endsWith(QStringLiteral("9.zta")));
        QVERIFY(r.views[0]->timerFile.endsWith(QStringLiteral("9timer.zta")));
        QCOMPARE(r.views[0]->numberField()->text(), QStringLiteral("9"));
        QVERIFY(r.bus->state(9));
        // Polling goes on at the new number.
        r.bus->clearLog();
        QVERIFY(waitLog(*r.bus, [](const std::vector<zta::sim::LogEntry>& log) {
            for (const auto& e : log)
                if (e.kind == zta::sim::LogEntry::Kind::Request && e.address == 9) return true;
            return false;
        }));
        QTRY_VERIFY_WITH_TIMEOUT(r.views[0]->getDocument().linkUp, kWaitMs);
    }

    void newBaudRateSwitchesTheStationAfterTheQuestion() {
        Rig& r = R();
        r.bus->clearLog();
        answer_ = [](QDialog& d) {
            as<BaudRateDialog>(d)->speedList()->setCurrentIndex(4);  // 19200
            as<BaudRateDialog>(d)->applyButton()->click();
        };
        run(r, 1, CommandId::ToolChangeSpeed);
        QCOMPARE(applied(r, 4, 0), writeFrame(4, 0, 4 << 8 | 0x10));
        QTRY_VERIFY_WITH_TIMEOUT(!r.st->dialogs.boxes().empty(), kWaitMs);
        const auto& box = r.st->dialogs.boxes()[0];
        QCOMPARE(box.text,
                 QStringLiteral("Скорость прибора № 4 была изменена. Установить скорость 19200 ?"));
        QCOMPARE(box.caption, QStringLiteral("Смена скорости"));
        QCOMPARE(box.icon, Dialogs::Icon::Question);
        QCOMPARE(r.st->frame->block().baudRate(), 19200u);
        QVERIFY(r.st->frame->station().isPolling());
        QCOMPARE(r.bus->state(4)->baud, 19200u);
        // Read again at the new rate and answering.
        r.bus->clearLog();
        QVERIFY(waitLog(*r.bus, [](const std::vector<zta::sim::LogEntry>& log) {
            for (const auto& e : log)
                if (e.kind == zta::sim::LogEntry::Kind::Request && e.address == 4 &&
                    e.lineBaud == 19200)
                    return true;
            return false;
        }));
        QTRY_VERIFY_WITH_TIMEOUT(r.views[1]->getDocument().linkUp, kWaitMs);
        r.st->frame->disconnectLine();
    }
};

QTEST_MAIN(ServiceCommandsTest)
#include "service_commands_test.moc"
