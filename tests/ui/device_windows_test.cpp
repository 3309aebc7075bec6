// SPDX-License-Identifier: GPL-3.0-or-later
// Analyzer windows: registration and the limit of fifty, closing with compaction, reload and
// link state, software identification, the form's display rules, the number field, the
// disconnect reset, the baud question and the view's commands.

#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device_support.h"
#include "ui/command_ids.h"
#include "ui/device_icons.h"
#include "ui/dialogs.h"

using namespace zta;

namespace {

struct Fed {
    int gasCode = 1;
    double concentration = 0;
    bool extended = false;
    double range = 0;
    const char* unit = "";
    int errorCount = 0;
    int relays = 0;
};

}  // namespace

class DeviceWindowsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeHost> host_;
    std::unique_ptr<ScriptedDialogs> dialogs_;

    AnalyzerSubWindow* open() { return openAnalyzerWindow(*host_, host_->area); }

    void feed(AnalyzerSubWindow* w, const Fed& r) {
        const int slot = w->document().slot;
        QVERIFY(host_->store(slot, [&](zta::Slot& s) {
            s.readings.gasCode = static_cast<uint8_t>(r.gasCode);
            s.texts.gasName = r.gasCode == 1 ? "Метан" : "x";
            s.readings.concentration = r.concentration;
            s.readings.extendedModel = r.extended;
            s.readings.deviceRange = r.range;
            s.texts.unitName = r.unit;
            s.errorCount = r.errorCount;
            s.readings.relayState = static_cast<uint8_t>(r.relays);
        }));
        host_->deliver(w->view());
    }

  private slots:
    void init() {
        host_ = std::make_unique<FakeHost>();
        dialogs_ = std::make_unique<ScriptedDialogs>();
        setDialogs(dialogs_.get());
    }

    void cleanup() {
        host_->area.closeAllSubWindows();
        qDeleteAll(host_->area.subWindowList());
        host_.reset();
        setDialogs(nullptr);
        dialogs_.reset();
    }

    void fiftiethWindowTakesSlot49AndTheNextIsRefused() {
        std::vector<AnalyzerSubWindow*> windows;
        for (int i = 0; i < 50; ++i) windows.push_back(open());
        QCOMPARE(windows.back()->document().slot, 49);
        QCOMPARE(host_->pollBlock.windowCount(), 50);
        QVERIFY(dialogs_->boxes().empty());

        QVERIFY(open() == nullptr);
        QCOMPARE(host_->pollBlock.windowCount(), 50);
        QCOMPARE(host_->area.subWindowList().size(), 50);
        QCOMPARE(dialogs_->boxes().size(), size_t(1));
        QCOMPARE(dialogs_->boxes()[0].text,
                 QStringLiteral("Открыть больше пятидесяти окон нельзя."));
        QCOMPARE(dialogs_->boxes()[0].caption, QStringLiteral("Ограничение"));
        QCOMPARE(dialogs_->boxes()[0].icon, Dialogs::Icon::Information);
        // The refused window left every registered slot as it was.
        QCOMPARE(host_->pollBlock.view(49), analyzerIdOf(windows.back()->view()));
    }

    void baudQuestionNamesTheRateOrTheUnknownCode() {
        const struct {
            int code;
            const char* shown;
        } cases[] = {{8, "9600"}, {16, "19200"}, {7, "7"}};
        AnalyzerSubWindow* w = open();
        for (const auto& c : cases) {
            dialogs_->clear();
            dialogs_->answer(Dialogs::ResultCancel);
            w->view()->askBaudSwitch(c.code, 5);
            QCOMPARE(dialogs_->boxes().size(), size_t(1));
            QCOMPARE(dialogs_->boxes()[0].text,
                     QStringLiteral("Скорость прибора № 5 была изменена. Установить скорость %1 ?")
                         .arg(QLatin1String(c.shown)));
            QCOMPARE(dialogs_->boxes()[0].caption, QStringLiteral("Смена скорости"));
        }
        QVERIFY(host_->switchedTo.empty());
    }

    void closingTheFirstOfThreeMovesTheOthersDown() {
        AnalyzerSubWindow* w[3] = {open(), open(), open()};
        // What is kept of each analyzer beside its window moves with the analyzer, and goes
        // with it.
        const zta::AnalyzerId first = w[0]->document().analyzerId();
        const auto trend2 = w[2]->document().records().trend();
        QVERIFY(host_->views().unit(first));
        QVERIFY(&w[2]->document().unit() == host_->views().unit(w[2]->document().analyzerId()));
        w[1]->view()->numberField()->setText(QStringLiteral("11"));
        w[2]->view()->numberField()->setText(QStringLiteral("22"));
        host_->store(2, [](zta::Slot& s) { s.pending.set(zta::Command::Zero, 0, false); });

        delete w[0];
        QCOMPARE(host_->pollBlock.windowCount(), 2);
        QCOMPARE(host_->pollBlock.cursor(), 0);
        QCOMPARE(w[1]->document().slot, 0);
        QCOMPARE(w[2]->document().slot, 1);
        QCOMPARE(host_->pollBlock.snapshot(0).address, 11);
        QCOMPARE(host_->pollBlock.snapshot(1).address, 22);
        QCOMPARE(host_->pollBlock.view(1), analyzerIdOf(w[2]->view()));
        // A pending command stays with its analyzer; the vacated index is clear.
        QVERIFY(host_->pollBlock.snapshot(1).pending.isPending(zta::Command::Zero));
        QCOMPARE(host_->pollBlock.snapshot(2).analyzer, zta::AnalyzerId(0));
        QCOMPARE(host_->pollBlock.snapshot(2).address, 0);
        QCOMPARE(host_->views().unit(first), nullptr);
        QCOMPARE(w[2]->document().records().trend(), trend2);

        // A reload after the move reads the window's own analyzer.
        feed(w[2], {1, 50});
        QCOMPARE(w[2]->view()->text(FormField::ConcentrationLel), QStringLiteral("50"));
        QCOMPARE(w[1]->view()->text(FormField::ConcentrationLel), QStringLiteral("0"));

        // The last one closes without moving anybody.
        w[2]->close();
        QCOMPARE(host_->pollBlock.windowCount(), 1);
        QCOMPARE(w[1]->document().slot, 0);
        QCOMPARE(host_->pollBlock.snapshot(1).analyzer, zta::AnalyzerId(0));
        QVERIFY(dialogs_->boxes().empty());
    }

    void closingAWindowWithARunningTimerLowersTheCountByOne() {
        host_->polling = true;
        AnalyzerSubWindow* a = open();
        AnalyzerSubWindow* b = open();
        a->view()->startRecordTimer(60);
        b->view()->startRecordTimer(60);
        QCOMPARE(host_->shared.runningTimers, 2);
        a->close();
        QCOMPARE(host_->shared.runningTimers, 1);
        QVERIFY(host_->anyTimerRunning);
        delete b;
        QCOMPARE(host_->shared.runningTimers, 0);
        QVERIFY(!host_->anyTimerRunning);
    }

    void newWindowTakesTheModelFlagFromThePollingState() {
        QVERIFY(!open()->document().readings.extendedModel);
        host_->polling = true;
        QVERIFY(open()->document().readings.extendedModel);
    }

    void reloadKeepsTheLinkForOneToFourMissedReplies() {
        AnalyzerSubWindow* w = open();
        AnalyzerDocument& doc = w->document();
        const struct {
            int errors;
            bool linkUp;
            int refreshes;
        } steps[] = {{0, true, 1},  {3, true, 1},  {4, true, 1},
                     {5, false, 2}, {2, false, 2}, {0, true, 3}};
        for (const auto& s : steps) {
            host_->store(doc.slot, [&](zta::Slot& slot) { slot.errorCount = s.errors; });
            host_->deliver(w->view());
            QCOMPARE(doc.linkUp, s.linkUp);
            QCOMPARE(host_->commandRefreshes, s.refreshes);
        }
    }

    void softwareIdentification_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("extended");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("identifier");
        QTest::newRow("old software") << -1 << true << "v1.2"
                                      << "zta.hex"
                                      << "91f710f3b3b700ff31f712ff11bb80bf";
        QTest::newRow("v2.0 standard") << 20 << false << "v2.0"
                                       << "zta_k.hex"
                                       << "107710f4103700dc10f6105e109c049c";
        QTest::newRow("v2.3 extended") << 23 << true << "v2.3"
                                       << "zta_k7.hex"
                                       << "117710f7133700df11f7125f119f049f";
        QTest::newRow("not read") << 0 << true << ""
                                  << ""
                                  << "";
    }

    void softwareIdentification() {
        QFETCH(int, version);
        QFETCH(bool, extended);
        QFETCH(QString, text);
        QFETCH(QString, name);
        QFETCH(QString, identifier);
        AnalyzerSubWindow* w = open();
        host_->store(0, [&](zta::Slot& s) {
            s.readings.softwareVersion = version;
            s.readings.extendedModel = extended;
        });
        host_->deliver(w->view());
        const AnalyzerDocument& doc = w->document();
        QCOMPARE(doc.softwareVersionText(), text);
        QCOMPARE(doc.softwareNameText(), name);
        QCOMPARE(doc.softwareIdentifier(), identifier);
        QCOMPARE(doc.softwareIdentifier().size(), version == 0 ? 0 : 32);
    }

    void concentrationFields_data() {
        QTest::addColumn<int>("gasCode");
        QTest::addColumn<double>("concentration");
        QTest::addColumn<bool>("extended");
        QTest::addColumn<QString>("lel");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("secondLabel");
        QTest::newRow("methane 50") << 1 << 50.0 << false << "50"
                                    << "2.20"
                                    << "Об. доли";
        QTest::newRow("no gas") << 0 << 50.0 << false << "50"
                                << "0.00"
                                << "Об. доли";
        QTest::newRow("propylene 50") << 8 << 50.0 << false << "50"
                                      << "1.00"
                                      << "Об. доли";
        QTest::newRow("code above 8") << 9 << 37.0 << false << "37"
                                      << "37.00"
                                      << "Об. доли";
        QTest::newRow("extended, range 4.4") << 1 << 50.0 << true << "50"
                                             << "2.20"
                                             << "об.доли";
        QTest::newRow("rounds like printf") << 2 << 49.6 << false << "50"
                                            << "0.84"
                                            << "Об. доли";
    }

    void concentrationFields() {
        QFETCH(int, gasCode);
        QFETCH(double, concentration);
        QFETCH(bool, extended);
        QFETCH(QString, lel);
        QFETCH(QString, second);
        QFETCH(QString, secondLabel);
        AnalyzerSubWindow* w = open();
        feed(w, {gasCode, concentration, extended, 4.4, "об.доли"});
        QCOMPARE(w->view()->text(FormField::ConcentrationLel), lel);
        QCOMPARE(w->view()->text(FormField::Concentration), second);
        QCOMPARE(w->view()->text(FormField::UnitLabel), secondLabel);
        QCOMPARE(w->view()->text(FormField::LelUnitLabel), QStringLiteral("%НКПР"));
    }

    void linkAndRelayIcons() {
        AnalyzerSubWindow* w = open();
        AnalyzerView* v = w->view();
        QCOMPARE(v->iconOf(FormField::LinkIcon), int(IconLinkDown));

        feed(w, {1, 10, false, 0, "", 4, 5});
        QCOMPARE(v->iconOf(FormField::LinkIcon), int(IconLinkUp));
        QCOMPARE(v->iconOf(FormField::HealthRelay), int(IconRelayGreen));
        QCOMPARE(v->iconOf(FormField::Relay1), int(IconRelayOff));
        QCOMPARE(v->iconOf(FormField::Relay2), int(IconRelayRed));
        CommandState st;
        QVERIFY(v->onUpdateCommand(CommandId::TimerActive, st));
        QVERIFY(st.enabled);

        feed(w, {1, 10, false, 0, "", 5, 2});
        QCOMPARE(v->iconOf(FormField::LinkIcon), int(IconLinkDown));
        QCOMPARE(v->iconOf(FormField::HealthRelay), int(IconRelayOff));
        QCOMPARE(v->iconOf(FormField::Relay1), int(IconRelayRed));
        st = {};
        QVERIFY(v->onUpdateCommand(CommandId::ToolSetTimer, st));
        QVERIFY(!st.enabled);
    }

    void softwareFieldsHiddenThenShown() {
        AnalyzerSubWindow* w = open();
        AnalyzerView* v = w->view();
        QVERIFY(v->control(FormField::SoftwareGroup)->isHidden());
        QVERIFY(v->control(FormField::SoftwareVersion)->isHidden());
        QVERIFY(v->control(FormField::SoftwareName)->isHidden());
        v->field(FormField::SoftwareVersion)->setText(QStringLiteral("old"));
        host_->store(0, [](zta::Slot& s) { s.readings.softwareVersion = 23; });
        host_->deliver(v);
        QCOMPARE(v->text(FormField::SoftwareVersion),
                 QStringLiteral("old"));  // untouched while hidden

        host_->shared.showSoftwareInfo = true;
        v->onSoftwareInfoToggled();
        QVERIFY(!v->control(FormField::SoftwareGroup)->isHidden());
        QVERIFY(!v->control(FormField::SoftwareIdentifier)->isHidden());
        QVERIFY(
            v->control(FormField::SoftwareName)->isHidden());  // the name reaches only the dialog
        QCOMPARE(v->text(FormField::SoftwareVersion), QStringLiteral("v2.3"));
        QCOMPARE(v->text(FormField::SoftwareIdentifier).size(), 32);

        host_->store(0, [](zta::Slot& s) { s.readings.softwareVersion = 0; });
        host_->deliver(v);
        QCOMPARE(v->text(FormField::SoftwareVersion), QStringLiteral("-"));
        QCOMPARE(v->text(FormField::SoftwareIdentifier), QStringLiteral("-"));

        host_->shared.showSoftwareInfo = false;
        v->onSoftwareInfoToggled();
        QVERIFY(v->control(FormField::SoftwareGroup)->isHidden());
        QVERIFY(v->control(FormField::SoftwareNameLabel)->isHidden());
    }

    void softwareInfoDialogGetsTheIdentification() {
        AnalyzerSubWindow* w = open();
        w->view()->onShowSoftwareInfo();
        host_->store(0, [](zta::Slot& s) {
            s.readings.softwareVersion = -1;
            s.address = 7;
        });
        host_->deliver(w->view());
        w->view()->onShowSoftwareInfo();
        QCOMPARE(dialogs_->shown.size(), size_t(2));
        QCOMPARE(dialogs_->shown[0].networkNumber, -1);
        QCOMPARE(dialogs_->shown[1].networkNumber, 7);
        QCOMPARE(dialogs_->shown[1].versionText, QStringLiteral("v1.2"));
        QCOMPARE(dialogs_->shown[1].softwareName, QStringLiteral("zta.hex"));
    }

    void typingTheNumberAppliesDigitByDigit() {
        AnalyzerSubWindow* w = open();
        AnalyzerView* v = w->view();
        host_->area.show();
        host_->area.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&host_->area));
        QLineEdit* f = v->numberField();
        f->setFocus();
        f->selectAll();
        QTest::keyClicks(f, QStringLiteral("17"));
        QCOMPARE(host_->pollBlock.snapshot(0).address, 17);
        QCOMPARE(w->windowTitle(), QStringLiteral("Прибор №17"));
        QCOMPARE(v->recordFile, host_->folder + QStringLiteral("17.zta"));
        QCOMPARE(v->timerFile, host_->folder + QStringLiteral("17timer.zta"));
        QVERIFY(dialogs_->boxes().empty());

        std::vector<int> applied;
        f->selectAll();
        QObject::connect(f, &QLineEdit::textChanged, f,
                         [&] { applied.push_back(host_->pollBlock.snapshot(0).address); });
        QTest::keyClicks(f, QStringLiteral("300"));
        QCOMPARE(dialogs_->boxes().size(), size_t(1));
        QCOMPARE(dialogs_->boxes()[0].text, QStringLiteral("Номер должен быть от 0 до 255"));
        QCOMPARE(dialogs_->boxes()[0].caption, QStringLiteral("Внимание"));
        QCOMPARE(dialogs_->boxes()[0].icon, Dialogs::Icon::Information);
        QCOMPARE(f->text(), QStringLiteral("30"));
        QCOMPARE(f->selectedText(), QStringLiteral("30"));
        QVERIFY(f->hasFocus());
        QCOMPARE(host_->pollBlock.snapshot(0).address, 30);
        QCOMPARE(applied.front(), 3);
        QCOMPARE(w->windowTitle(), QStringLiteral("Прибор №30"));
    }

    void emptyOrGarbledNumberKeepsTheLastApplied() {
        AnalyzerSubWindow* w = open();
        QLineEdit* f = w->view()->numberField();
        f->setText(QStringLiteral("12"));
        for (const char* bad : {"", "1a", "-"}) {
            dialogs_->clear();
            f->setText(QString::fromLatin1(bad));
            QCOMPARE(dialogs_->boxes().size(), size_t(1));
            QCOMPARE(dialogs_->boxes()[0].text, QStringLiteral("Please enter an integer."));
            QCOMPARE(dialogs_->boxes()[0].caption, QStringLiteral("mirel"));
            QCOMPARE(f->text(), QString::fromLatin1(bad));  // the field keeps its text
            QCOMPARE(host_->pollBlock.snapshot(0).address, 12);
            QCOMPARE(w->document().address, 12);
        }
        dialogs_->clear();
        f->setText(QStringLiteral("-3"));
        QCOMPARE(dialogs_->boxes().at(0).text, QStringLiteral("Номер должен быть от 0 до 255"));
        QCOMPARE(f->text(), QStringLiteral("12"));
    }

    void disconnectEmptiesTheReadingsButKeepsNumberAndFiles() {
        AnalyzerSubWindow* w = open();
        AnalyzerView* v = w->view();
        v->numberField()->setText(QStringLiteral("9"));
        host_->store(0, [](zta::Slot& s) {
            s.errorCount = 0;
            s.readings.concentration = 42;
            s.readings.gasCode = 1;
            s.texts.gasName = "Метан";
            s.readings.relayState = 7;
            s.readings.temperature = 21;
            s.readings.factoryNumber = 1234;
            s.readings.threshold1 = 20;
        });
        host_->deliver(v);
        QCOMPARE(v->text(FormField::FactoryNumber), QStringLiteral("1234"));

        v->onDisconnected();
        const AnalyzerDocument& d = w->document();
        QVERIFY(!d.linkUp);
        QCOMPARE(d.errorCount, 5);
        QCOMPARE(v->text(FormField::GasName), QStringLiteral(" - "));
        QCOMPARE(v->text(FormField::ConcentrationLel), QStringLiteral("0"));
        QCOMPARE(v->text(FormField::Temperature), QStringLiteral("0"));
        QCOMPARE(v->text(FormField::FactoryNumber), QStringLiteral("0"));
        QCOMPARE(v->text(FormField::Threshold1), QStringLiteral("0"));
        QCOMPARE(v->iconOf(FormField::LinkIcon), int(IconLinkDown));
        QCOMPARE(v->iconOf(FormField::HealthRelay), int(IconRelayOff));
        QCOMPARE(v->numberField()->text(), QStringLiteral("9"));
        QCOMPARE(v->recordFile, host_->folder + QStringLiteral("9.zta"));
    }

    void baudQuestion() {
        AnalyzerSubWindow* w = open();
        dialogs_->answer(Dialogs::ResultCancel);
        w->view()->onBaudAccepted(8, 5);
        QCOMPARE(dialogs_->boxes().at(0).text,
                 QStringLiteral("Скорость прибора № 5 была изменена. Установить скорость 9600 ?"));
        QCOMPARE(dialogs_->boxes().at(0).caption, QStringLiteral("Смена скорости"));
        QCOMPARE(dialogs_->boxes().at(0).icon, Dialogs::Icon::Question);
        QVERIFY(host_->switchedTo.empty());

        dialogs_->answer(Dialogs::ResultOk);
        w->view()->onBaudAccepted(16, 3);
        QCOMPARE(dialogs_->boxes().at(1).text,
                 QStringLiteral("Скорость прибора № 3 была изменена. Установить скорость 19200 ?"));
        QCOMPARE(host_->switchedTo, std::vector<unsigned>{19200});
    }

    void countersAreResetByTheHiddenButton() {
        AnalyzerSubWindow* w = open();
        host_->store(0, [](zta::Slot& s) {
            s.replyCount = 12;
            s.requestCount = 3;
        });
        host_->deliver(w->view());
        QCOMPARE(w->view()->text(FormField::ReplyCount), QStringLiteral("12"));
        QVERIFY(w->view()->control(FormField::ReplyCount)->isHidden());
        qobject_cast<QPushButton*>(w->view()->control(FormField::ResetButton))->click();
        QCOMPARE(host_->pollBlock.snapshot(0).replyCount, 0);
        QCOMPARE(host_->pollBlock.snapshot(0).requestCount, 0);
        QCOMPARE(w->view()->text(FormField::RequestCount), QStringLiteral("0"));
    }

    void f6OpensTheFactoryNumberCommandWithoutLink() {
        AnalyzerSubWindow* w = open();
        int calls = 0;
        const DocumentCommandHandlers station = getDocumentCommandHandlers();
        setDocumentCommandHandlers({nullptr, nullptr, [&](AnalyzerDocument& d) {
                                        QCOMPARE(&d, &w->document());
                                        ++calls;
                                    }});
        QTest::keyRelease(w->view()->numberField(), Qt::Key_F6);
        QTest::keyRelease(w->view(), Qt::Key_F5);
        setDocumentCommandHandlers(station);
        QCOMPARE(calls, 1);
    }

    void folderChangeRebuildsFileNames() {
        AnalyzerSubWindow* w = open();
        w->view()->numberField()->setText(QStringLiteral("12"));
        QCOMPARE(w->view()->recordFile, host_->folder + QStringLiteral("12.zta"));
        host_->folder = QStringLiteral("/data/rec/");
        w->view()->onRecordFolderChanged();
        QCOMPARE(w->view()->recordFile, QStringLiteral("/data/rec/12.zta"));
        QCOMPARE(w->view()->timerFile, QStringLiteral("/data/rec/12timer.zta"));
    }

    void activationShowsTheActiveViewsTimer() {
        host_->area.show();
        open();
        AnalyzerSubWindow* b = open();
        const int before = host_->activations;
        host_->area.setActiveSubWindow(nullptr);
        host_->area.setActiveSubWindow(b);
        QVERIFY(host_->activations > before);
    }
};

QTEST_MAIN(DeviceWindowsTest)
#include "device_windows_test.moc"
