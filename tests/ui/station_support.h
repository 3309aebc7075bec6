// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A whole station (application object and main window) built for a test: ports, calibration
// file and record folder from the test, every dialog answered by the scripted dialogs.

#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "app/bench_control.h"
#include "app/bus_tools.h"
#include "app/main_window.h"
#include "app/search_control.h"
#include "app/station_application.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_window_factory.h"
#include "device/device_host.h"
#include "device/form_window_factory.h"
#include "poll/poll_thread.h"
#include "ui/dialogs.h"

using namespace zta;

// One of the main window's tools (search control, bus tools, bench control).
template <typename Tool>
Tool& toolOf(MainWindow* frame) {
    Tool* tool = frame->findChild<Tool*>();
    Q_ASSERT(tool);
    return *tool;
}

// Pacing short enough for a test to see many turns, with the system's own line timing.
inline zta::PollTiming fastTiming() {
    zta::PollTiming t;
    t.pacingBaseMs = 20;
    t.pacingPerWindowMs = 0;
    return t;
}

inline AnalyzerView* viewIn(QMdiSubWindow* child) {
    auto* frame = qobject_cast<AnalyzerSubWindow*>(child);
    return frame ? frame->view() : nullptr;
}

// What a recording view was told, one kind per call (a baud code is added to NoticeBaudAccepted).
enum ViewNotice : int {
    NoticeDataChanged,
    NoticeDisconnected,
    NoticeInsertText,
    NoticeStartTimer,
    NoticeStopTimer,
    NoticeSoftwareInfoToggled,
    NoticeShowSoftwareInfo,
    NoticeBaudAccepted = 100,
};

// Views that register in the block and record every notice they are sent.
class RecordingView : public QWidget, public AnalyzerViewInterface {
  public:
    explicit RecordingView(DeviceHost& host) : host_(host) { live().insert(this); }
    ~RecordingView() override {
        live().erase(this);
        unregister();
    }
    // As the program's windows do, the slot goes back when the window closes: its deletion
    // comes later, possibly only with the main window's, when the block is gone.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) unregister();
        return QWidget::eventFilter(watched, event);
    }
    void unregister() {
        if (slot < 0) return;
        slot = -1;
        host_.views().remove(id);
        host_.line().removeAnalyzer(id);
    }
    static std::set<RecordingView*>& live() {
        static std::set<RecordingView*> live;
        return live;
    }
    zta::AnalyzerId analyzerId() const override { return id; }
    void onReading(const zta::ReadingEvent&) override { record(NoticeDataChanged); }
    void onDisconnected() override { record(NoticeDisconnected); }
    void onNoteForAll() override { record(NoticeInsertText); }
    void onStartTimer(int periodSeconds) override { record(NoticeStartTimer, periodSeconds); }
    void onStopTimer() override { record(NoticeStopTimer); }
    void onSoftwareInfoToggled() override { record(NoticeSoftwareInfoToggled); }
    void onShowSoftwareInfo() override { record(NoticeShowSoftwareInfo); }
    void onBaudAccepted(int baudCode, int networkNumber) override {
        record(NoticeBaudAccepted + baudCode, networkNumber);
    }
    void record(int code, int value = 0) {
        notices.push_back({code, value});
        if (onNotice) onNotice(code);
    }
    void onSlotChanged(int s) override { slot = s; }
    void onRecordFolderChanged() override { ++folderChanges; }
    int timerPeriod() const override { return period; }

    struct Notice {
        int code;
        int value;
    };
    int count(int code) const {
        int n = 0;
        for (const Notice& x : notices) n += x.code == code;
        return n;
    }

    DeviceHost& host_;
    std::function<void(int code)> onNotice;
    std::vector<Notice> notices;
    zta::AnalyzerId id = 0;
    int slot = -1;
    int folderChanges = 0;
    int period = 0;
};

class RecordingWindowFactory : public AnalyzerWindowFactory {
  public:
    QMdiSubWindow* openWindow(DeviceHost& host, QMdiArea& area) override {
        auto* view = new RecordingView(host);
        const auto id = host.line().addAnalyzer();
        if (!id) {
            dialogs().information(QStringLiteral("Открыть больше пятидесяти окон нельзя."),
                                  QStringLiteral("Ограничение"), host.window());
            delete view;
            return nullptr;
        }
        view->id = *id;
        view->slot = *host.line().slotOf(*id);
        host.views().add(*id, view);
        QMdiSubWindow* child = area.addSubWindow(view);
        child->setAttribute(Qt::WA_DeleteOnClose);
        child->installEventFilter(view);
        child->show();
        return child;
    }
    std::vector<CommandTarget*> route(QMdiSubWindow*) override { return {}; }
    AnalyzerViewInterface* viewOf(QMdiSubWindow* child) override {
        return child ? dynamic_cast<RecordingView*>(child->widget()) : nullptr;
    }
};

struct TestStation {
    explicit TestStation(QStringList ports = {QStringLiteral("ttyS0")},
                         std::unique_ptr<AnalyzerWindowFactory> windowFactory = nullptr,
                         const QString& calFile = {}) {
        setDialogs(&dialogs);
        StationOptions options;
        options.listSystemPorts = false;
        options.systemPorts = ports;
        options.calDataPath =
            calFile.isEmpty() ? dir.filePath(QStringLiteral("CalDataK7.cfg")) : calFile;
        options.programFolder = dir.path();
        app = std::make_unique<StationApplication>(options);
        app->initInstance(
            windowFactory ? std::move(windowFactory) : std::make_unique<RecordingWindowFactory>(),
            false);
        frame = app->mainFrame();
        frame->router().setIdleInterval(0);
        frame->resize(1000, 700);
        frame->show();
    }
    ~TestStation() {
        app.reset();
        setDialogs(nullptr);
    }
    RecordingView* view(int slot) const {
        return dynamic_cast<RecordingView*>(frame->viewOfSlot(slot));
    }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<StationApplication> app;
    MainWindow* frame = nullptr;
};
