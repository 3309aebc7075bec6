// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's commands: what its menus and tool buttons do, and when they are enabled.
#include <QDateTime>
#include <QInputDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>

#include "app/main_window.h"
#include "device/analyzer_view.h"
#include "device/record_file.h"
#include "link/serial_line.h"
#include "ui/dialogs.h"
#include "ui/station_texts.h"

namespace zta {

void MainWindow::onRecordFolderCommand() {
    const std::optional<QString> chosen = dialogs().askFolder(station_.recordFolder(), this);
    if (chosen && !chosen->isEmpty()) station_.setRecordFolder(*chosen);
}

void MainWindow::onTimerAll() {
    if (!station_.isPolling()) {
        dialogs().information(
            QStringLiteral("Установка таймера для группы приборов не может быть произведена.\r\n"
                           "    \t         Проверьте подключение приборов. "),
            QStringLiteral("Ошибка"), this);
        return;
    }
    if (windows_.runningTimers != 0) return;
    const std::optional<int> period = dialogs().askTimerPeriod(-1, this);
    if (!period || *period == 0) return;
    broadcastToViews([&](AnalyzerViewInterface& v) { v.onStartTimer(*period); });
    long long cycleMs = 0;  // one cycle visits every analyzer: the longest seen is the cycle
    for (int slot = 0; slot < station_.block().windowCount(); ++slot)
        if (AnalyzerViewInterface* v = viewOfSlot(slot))
            cycleMs = std::max(cycleMs, v->pollCycleMs());
    const QString warning = timerCycleWarning(*period, cycleMs);
    if (!warning.isEmpty()) dialogs().warning(warning, QStringLiteral("Таймер"), this);
}

void MainWindow::askOperatorName() {
    QInputDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Оператор"));
    dialog.setLabelText(QStringLiteral("Оператор, указываемый в журнале команд:"));
    dialog.setTextValue(station_.operatorName());
    if (dialogs().run(dialog) == QDialog::Accepted) station_.setOperatorName(dialog.textValue());
}

void MainWindow::onRecordAll() {
    const std::optional<QString> label = dialogs().askNote(-1, this);
    if (!label) return;
    // One moment for all: every window's line carries the same time.
    const QDateTime now = QDateTime::currentDateTime();
    const int count = station_.block().windowCount();
    std::vector<AnalyzerViewInterface*> views;
    for (int slot = 0; slot < count; ++slot)
        if (AnalyzerViewInterface* v = viewOfSlot(slot)) views.push_back(v);
    for (AnalyzerViewInterface* v : views)
        if (findView(analyzerIdOf(v))) v->writeRecordAt(now, *label);
}

void MainWindow::onInsertAll() {
    const std::optional<QString> text = dialogs().askNote(-1, this);
    if (!text) return;
    windows_.note = *text;
    broadcastToViews([](AnalyzerViewInterface& v) { v.onNoteForAll(); });
}

bool MainWindow::onCommand(CommandId id) {
    if (id >= CommandId::PortFirst && id <= CommandId::PortLast) {
        station_.selectPort(int(id) - int(CommandId::PortFirst));
        return true;
    }
    if (id >= CommandId::Baud1200 && id <= CommandId::Baud19200) {
        station_.setBaud(int(id) - int(CommandId::Baud1200));
        return true;
    }
    switch (id) {
        case CommandId::Connect:
        case CommandId::ToolConnect:
            connectLine();
            return true;
        case CommandId::Disconnect:
        case CommandId::ToolDisconnect:
            disconnectLine();
            return true;
        case CommandId::TimerAll:
            onTimerAll();
            return true;
        case CommandId::TimerOffAll:
            broadcastToViews([](AnalyzerViewInterface& v) { v.onStopTimer(); });
            return true;
        case CommandId::InsertAll:
            onInsertAll();
            return true;
        case CommandId::RecordAll:
            onRecordAll();
            return true;
        case CommandId::SoftwareInfoActive:
            if (AnalyzerViewInterface* v = activeView()) v->onShowSoftwareInfo();
            return true;
        case CommandId::SoftwareInfoAll:
            windows_.showSoftwareInfo = !windows_.showSoftwareInfo;
            broadcastToViews([](AnalyzerViewInterface& v) { v.onSoftwareInfoToggled(); });
            return true;
        case CommandId::ToolNewDocument:
            openNewDocument();
            return true;
        case CommandId::RecordFolder:
        case CommandId::ToolRecordFolder:
            onRecordFolderCommand();
            return true;
        case CommandId::ViewToolBar:
            toolBar_->setVisible(toolBar_->isHidden());
            return true;
        case CommandId::ViewStatusBar:
            panes_->mainBar()->setVisible(panes_->mainBar()->isHidden());
            return true;
        case CommandId::WindowCascade:
            mdi_->cascadeSubWindows();
            return true;
        case CommandId::WindowTile:
            tileWindows();
            return true;
        case CommandId::CsvLog:
            station_.csvLog().setEnabled(!station_.csvLog().enabled());
            return true;
        case CommandId::OperatorName:
            askOperatorName();
            return true;
        default:
            return false;
    }
}

bool MainWindow::onUpdateCommand(CommandId id, CommandState& st) {
    const bool polling = station_.isPolling();
    const bool searching = station_.isSearching();
    const bool idle = !polling && !searching;
    if (id >= CommandId::PortFirst && id <= CommandId::PortLast) {
        st.enabled = idle;
        st.checked = int(id) - int(CommandId::PortFirst) == station_.selectedPort();
        return int(id) - int(CommandId::PortFirst) < station_.portCount();
    }
    if (id >= CommandId::Baud1200 && id <= CommandId::Baud19200) {
        st.enabled = idle;
        st.checked = int(id) - int(CommandId::Baud1200) == station_.baudPosition();
        return true;
    }
    switch (id) {
        case CommandId::Connect:
        case CommandId::ToolConnect:
        case CommandId::Search:
        case CommandId::ToolSearch:
        case CommandId::PortCombo:
        case CommandId::BaudCombo:
            st.enabled = idle;
            return true;
        case CommandId::Disconnect:
        case CommandId::ToolDisconnect:
            st.enabled = polling && !searching;
            return true;
        case CommandId::StopSearch:
        case CommandId::ToolStopSearch:
            st.enabled = searching && !polling;
            return true;
        case CommandId::TimerAll:
            st.enabled = !anyTimerRunning_;
            return true;
        case CommandId::TimerOffAll:
            st.enabled = anyTimerRunning_;
            return true;
        case CommandId::SoftwareInfoAll:
            st.checked = windows_.showSoftwareInfo;
            return true;
        case CommandId::CsvLog:
            st.checked = station_.csvLog().enabled();
            return true;
        case CommandId::SaveBench:
        case CommandId::OpenBench:
            st.enabled = !searching;
            return true;
        case CommandId::ViewToolBar:
            st.checked = !toolBar_->isHidden();
            return true;
        case CommandId::ViewStatusBar:
            st.checked = !panes_->mainBar()->isHidden();
            return true;
        case CommandId::RecordAll:
            st.enabled = station_.block().windowCount() > 0;
            return true;
        case CommandId::SoftwareInfoActive:
        case CommandId::OperatorName:
        case CommandId::InsertAll:
        case CommandId::ToolNewDocument:
        case CommandId::RecordFolder:
        case CommandId::ToolRecordFolder:
        case CommandId::WindowCascade:
        case CommandId::WindowTile:
            return true;
        default:
            return false;
    }
}

}  // namespace zta
