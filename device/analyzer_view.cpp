// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/analyzer_view.h"

#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <climits>

#include "device/analyzer_document.h"
#include "device/csv_log.h"
#include "device/device_host.h"
#include "device/record_file.h"
#include "device/record_writer.h"
#include "device/trend_view.h"
#include "link/regmap.h"
#include "ui/command_ids.h"
#include "ui/command_texts.h"
#include "ui/device_icons.h"
#include "ui/dialogs.h"
#include "ui/note_limit.h"

namespace zta {

AnalyzerView::AnalyzerView(AnalyzerDocument& doc, QWidget* parent) : QWidget(parent), doc_(doc) {
    buildForm();
}

AnalyzerView::~AnalyzerView() = default;

DeviceHost& AnalyzerView::host() const { return *doc_.host(); }

QString AnalyzerView::unitNameShown() const {
    return doc_.readings.extendedModel ? doc_.unitName : QString::fromUtf8(zta::kVolumeUnitName);
}

// ---------------------------------------------------------------- data exchange

bool AnalyzerView::readNumberField() {
    static const QRegularExpression integer(QStringLiteral("^\\s*([+-]?)(\\d+)\\s*$"));
    const auto m = integer.match(number_->text());
    if (!m.hasMatch()) {
        boxOpen_ = true;
        dialogs().warning(QStringLiteral("Please enter an integer."), {}, this);
        boxOpen_ = false;
        number_->setFocus();
        return false;
    }
    // Digits beyond int are out of range like any other number above 255.
    bool ok = false;
    const qlonglong v = m.captured(2).toLongLong(&ok);
    const bool negative = m.captured(1) == QLatin1String("-");
    if (!ok || v > INT_MAX) {
        editNumber = negative ? INT_MIN : INT_MAX;
    } else {
        editNumber = static_cast<int>(negative ? -v : v);
    }
    return true;
}

void AnalyzerView::writeNumberField() {
    const QString t = QString::number(editNumber);
    // A different text is a change like a keystroke: applyNumber runs from textChanged.
    if (number_->text() != t) number_->setText(t);
}

void AnalyzerView::applyNumber() {
    if (boxOpen_) return;
    const int remembered = doc_.address;
    if (!readNumberField()) return;
    if (editNumber >= 0 && editNumber <= 255) {
        doc_.address = editNumber;
        fileNumber = editNumber;
        if (doc_.registered()) host().line().setAddress(doc_.analyzerId(), editNumber);
        doc_.setTitle();
        const QString folder = doc_.host() ? host().recordFolder() : QString();
        recordFile = recordFilePath(folder, editNumber, false);
        timerFile = recordFilePath(folder, editNumber, true);
        // Another number is another analyzer: nothing of the old one may show under it.
        if (editNumber != remembered) {
            doc_.startNewAnalyzer();
            commandState_->setText(commandStateText());
            refreshDisplay();
        }
        return;
    }
    boxOpen_ = true;
    dialogs().information(QStringLiteral("Номер должен быть от 0 до 255"),
                          QStringLiteral("Внимание"), this);
    boxOpen_ = false;
    editNumber = remembered;
    writeNumberField();
    number_->selectAll();
    number_->setFocus();
}

// ---------------------------------------------------------------- display

void AnalyzerView::onInitialUpdate() {
    applyNumber();
    setIcon(FormField::LinkIcon, IconLinkDown);
    setIcon(FormField::HealthRelay, IconRelayOff);
    setIcon(FormField::Relay1, IconRelayOff);
    setIcon(FormField::Relay2, IconRelayOff);
    refreshDisplay();
    updateSoftwareInfoVisibility();
}

void AnalyzerView::refreshDisplay() {
    if (!boxOpen_) {
        editNumber = doc_.address;
        writeNumberField();
        if (editNumber != fileNumber) applyNumber();
    }

    const zta::Readings& shown = doc_.readings;
    const bool showSoftware = doc_.registered() && doc_.host()->windows().showSoftwareInfo;
    if (showSoftware) {
        if (shown.softwareVersion != 0) {
            setText(FormField::SoftwareName, doc_.softwareNameText());
            setText(FormField::SoftwareVersion, doc_.softwareVersionText());
            setText(FormField::SoftwareIdentifier, doc_.softwareIdentifier());
        } else {
            setText(FormField::SoftwareVersion, QStringLiteral("-"));
            setText(FormField::SoftwareIdentifier, QStringLiteral("-"));
            setText(FormField::SoftwareName, QStringLiteral("-"));
        }
    }

    setText(FormField::GasName, doc_.gasName);
    setText(FormField::LelUnitLabel, QStringLiteral("%НКПР"));
    setText(FormField::ConcentrationLel, QString::asprintf("%.0f", shown.concentration));
    setText(FormField::UnitLabel, unitNameShown());
    const double value = zta::unitValue(shown);
    if (!shown.extendedModel) volumeFraction = value;
    setText(FormField::Concentration, QString::asprintf("%.2f", value));

    linkShown = doc_.errorCount < zta::kLostContactLimit;
    setIcon(FormField::LinkIcon, linkShown ? IconLinkUp : IconLinkDown);

    setText(FormField::Threshold2, QString::number(shown.threshold2));
    setText(FormField::Threshold1, QString::number(shown.threshold1));
    setText(FormField::DValue, QString::number(shown.dValue));
    setText(FormField::ReplyCount, QString::number(doc_.replyCount));
    setText(FormField::RequestCount, QString::number(doc_.requestCount));
    setText(FormField::Temperature, QString::number(shown.temperature));
    setText(FormField::FactoryNumber, QString::number(shown.factoryNumber));
    setText(FormField::ReferenceChannel, QString::number(shown.refChannel));
    setText(FormField::WorkingChannel, QString::number(shown.workChannel));

    setIcon(FormField::HealthRelay, (shown.relayState & 1) ? IconRelayGreen : IconRelayOff);
    setIcon(FormField::Relay1, (shown.relayState & 2) ? IconRelayRed : IconRelayOff);
    setIcon(FormField::Relay2, (shown.relayState & 4) ? IconRelayRed : IconRelayOff);
}

void AnalyzerView::updateSoftwareInfoVisibility() {
    const bool on = doc_.registered() && doc_.host()->windows().showSoftwareInfo;
    for (FormField id : {FormField::SoftwareGroup, FormField::SoftwareVersionLabel,
                         FormField::SoftwareIdentifierLabel, FormField::SoftwareVersion,
                         FormField::SoftwareIdentifier})
        control(id)->setVisible(on);
    if (!on) {
        control(FormField::SoftwareNameLabel)->hide();
        control(FormField::SoftwareName)->hide();
    }
    refreshDisplay();
}

void AnalyzerView::resetCounters() {
    const auto slot = doc_.liveSlot();
    if (!slot) return;
    host().line().block().resetCounters(*slot);
    doc_.replyCount = doc_.requestCount = 0;
    setText(FormField::ReplyCount, QStringLiteral("0"));
    setText(FormField::RequestCount, QStringLiteral("0"));
}

void AnalyzerView::showSoftwareInfo() {
    SoftwareInfoData info;
    if (doc_.readings.softwareVersion != 0) {
        info.networkNumber = doc_.address;
        info.versionText = doc_.softwareVersionText();
        info.softwareName = doc_.softwareNameText();
        info.identifier = doc_.softwareIdentifier();
    }
    dialogs().showSoftwareInfo(info, this);
}

// ---------------------------------------------------------------- notices

void AnalyzerView::onReading(const zta::ReadingEvent& event) {
    doc_.applyReading(event);
    refreshDisplay();
}

zta::AnalyzerId AnalyzerView::analyzerId() const { return doc_.analyzerId(); }

void AnalyzerView::onDisconnected() {
    doc_.resetReadings();
    refreshDisplay();
}

void AnalyzerView::onNoteForAll() {
    if (doc_.registered()) setNote(doc_.host()->windows().note);
}

void AnalyzerView::onBaudAccepted(int baudCode, int networkNumber) {
    if (baudCode >= 0 && baudCode < 32) askBaudSwitch(baudCode, networkNumber);
}

void AnalyzerView::onCommandStateChanged(const zta::CommandReport& report) {
    commandState_->setText(commandStateText());
    if (report.track.state == zta::CommandStatus::Confirmed && doc_.holds(report.generation))
        doc_.records().onCommandConfirmed(report.command, QDateTime::currentMSecsSinceEpoch());
}

QString AnalyzerView::commandStateText() const {
    if (!doc_.registered()) return {};
    const zta::Slot s = doc_.snapshot();
    zta::Command which{};
    const zta::CommandTrack* track = zta::lastCommand(s.commands, &which);
    if (!track) return {};
    return QStringLiteral("%1:\n%2").arg(zta::commandName(which), zta::commandStateText(*track));
}

void AnalyzerView::onSlotChanged(int slot) { doc_.slot = slot; }

void AnalyzerView::onClosing() { doc_.unit().recordTimer.stop(); }

const QTimer& AnalyzerView::recordTimer() const { return doc_.unit().recordTimer; }

long long AnalyzerView::pollCycleMs() const { return doc_.records().cycleMs(); }

void AnalyzerView::askBaudSwitch(int baudCode, int networkNumber) {
    const unsigned baud = zta::baudForCode(static_cast<unsigned>(baudCode));
    const QString text =
        QStringLiteral("Скорость прибора № %1 была изменена. Установить скорость %2 ?")
            .arg(networkNumber)
            .arg(baud != 0 ? baud : static_cast<unsigned>(baudCode));
    if (dialogs().question(text, QStringLiteral("Смена скорости"), this) && doc_.host())
        host().switchBaudAndReconnect(baud);
}

// ---------------------------------------------------------------- records and timer

void AnalyzerView::rebuildFileNames() {
    const QString folder = doc_.host() ? host().recordFolder() : QString();
    recordFile = recordFilePath(folder, editNumber, false);
    timerFile = recordFilePath(folder, editNumber, true);
    writeNumberField();
}

void AnalyzerView::setNote(const QString& text) {
    pendingText = text;
    pendingCsvNote = text;
}

bool AnalyzerView::writeRecord(const QDateTime& now) {
    const QString path = nextToTimerFile ? timerFile : recordFile;
    nextToTimerFile = false;
    const RecordValues v = recordValuesOf(doc_.readings);
    if (!doc_.host()) return appendRecordLine(path, buildRecordLine(v, now.time(), pendingText));
    // Each file keeps the note until a line of its own carries it: a failure of one never
    // costs the other its note nor writes it there twice. The writer has told the operator.
    const bool csvWritten = writeCsvLine(now);
    if (csvWritten) pendingCsvNote.clear();
    if (!host().recordWriter().append(path, buildRecordLine(v, now.time(), pendingText)))
        return false;
    pendingText.clear();
    return csvWritten;
}

bool AnalyzerView::writeRecordAt(const QDateTime& now, const QString& label) {
    // A note inserted before keeps its place; the label follows it.
    const auto withLabel = [&](const QString& note) {
        return limitedNote(note.isEmpty() ? label : note + QLatin1Char(' ') + label);
    };
    if (!label.isEmpty()) {
        pendingText = withLabel(pendingText);
        pendingCsvNote = withLabel(pendingCsvNote);
    }
    nextToTimerFile = false;
    return writeRecord(now);
}

bool AnalyzerView::writeCsvLine(const QDateTime& now) {
    zta::CsvLog& log = host().csvLog();
    if (!log.enabled()) return true;
    const zta::Readings& shown = doc_.readings;
    zta::AnalyzerRecords& records = doc_.records();
    zta::CsvRecord r;
    r.time = now;
    r.networkNumber = doc_.address;
    r.identified = records.identified();
    r.factoryNumber = records.factoryNumber();
    r.gas = records.gas();
    r.concentration = shown.concentration;
    r.unitValue = zta::unitValue(shown);
    r.unitName = shown.extendedModel ? doc_.unitName.trimmed() : QStringLiteral("% об.");
    r.threshold1 = shown.threshold1;
    r.threshold2 = shown.threshold2;
    r.relayState = shown.relayState;
    r.temperature = shown.temperature;
    r.dValue = shown.dValue;
    r.refChannel = shown.refChannel;
    r.workChannel = shown.workChannel;
    r.errorCount = doc_.errorCount;
    if (!records.polled())
        r.polling = zta::CsvPolling::NotYetPolled;
    else if (!host().isPolling())
        r.polling = zta::CsvPolling::Stopped;
    r.fresh = records.takeFresh();
    r.note = pendingCsvNote;
    return log.write(host().recordFolder(), r);
}

void AnalyzerView::showTrend(bool on) {
    if (on == trendShown_) return;
    if (!trend_) {
        trend_ = new zta::TrendView(this);
        trend_->setMinimumHeight(200);
        trend_->setHistory(doc_.records().trend(), zta::AnalyzerRecords::kRangeLel);
        // Under the form row, before the stretch that keeps the row at the top.
        static_cast<QVBoxLayout*>(layout())->insertWidget(1, trend_, 1);
    }
    trendShown_ = on;
    trend_->setVisible(on);
    // The plot takes the height the stretch below the form row held.
    static_cast<QVBoxLayout*>(layout())->setStretch(2, on ? 0 : 1);
    // The window grows by the plot, or shrinks back to its form.
    if (QWidget* frame = parentWidget()) {
        const int formHeight = frame->height() - (on ? 0 : trend_->height());
        frame->resize(frame->width(), on ? formHeight + 260 : formHeight);
    }
}

void AnalyzerView::onTimerTick() {
    nextToTimerFile = true;
    writeRecord();
}

void AnalyzerView::startRecordTimer(int periodSeconds) {
    if (!acceptTimerPeriod(periodSeconds, this)) return;
    if (timerRunning) stopRecordTimer();  // a new period replaces the old one, counted once
    QTimer& timer = doc_.unit().recordTimer;
    connect(&timer, &QTimer::timeout, this, &AnalyzerView::onTimerTick, Qt::UniqueConnection);
    timer.start(periodSeconds * 1000);
    timerPeriod_ = periodSeconds;
    DeviceHost* h = doc_.host();
    if (h) h->showTimerPane(periodSeconds);
    if (doc_.registered() && h) h->windows().addRunningTimers(1);
    if (h) h->refreshTimerFlag();
    writeNumberField();
    nextToTimerFile = true;
    doc_.timerRunning = true;
    timerRunning = true;
    if (h) h->timerStateChanged();
    writeRecord();
}

void AnalyzerView::stopRecordTimer() {
    if (!timerRunning) return;
    doc_.unit().recordTimer.stop();
    DeviceHost* h = doc_.host();
    if (doc_.registered() && h) h->windows().addRunningTimers(-1);
    if (h) h->refreshTimerFlag();
    doc_.timerRunning = false;
    timerPeriod_ = 0;
    if (h) h->showTimerPane(0);
    timerRunning = false;
    nextToTimerFile = false;
    if (h) h->timerStateChanged();
}

void AnalyzerView::onSetTimerActive() {
    if (timerRunning) {
        dialogs().information(QStringLiteral("Таймер уже установлен"), QStringLiteral("Ошибка"),
                              this);
        return;
    }
    const bool polling = doc_.host() && host().isPolling();
    if (polling && doc_.registered()) {
        const auto period = dialogs().askTimerPeriod(doc_.address, this);
        if (!period || *period == 0) return;
        startRecordTimer(*period);
        const QString warning = timerCycleWarning(*period, pollCycleMs());
        if (timerRunning && !warning.isEmpty())
            dialogs().warning(warning, QStringLiteral("Таймер"), this);
        return;
    }
    dialogs().information(
        QStringLiteral("Установка таймера для прибора № %1 не может быть произведена.\r\n    \t"
                       "         Проверьте подключение прибора. ")
            .arg(doc_.address),
        QStringLiteral("Ошибка"), this);
}

void AnalyzerView::onInsertActive() {
    if (const auto note = dialogs().askNote(doc_.address, this)) setNote(*note);
}

// ---------------------------------------------------------------- commands

bool AnalyzerView::onCommand(CommandId id) {
    switch (id) {
        case CommandId::Record:
        case CommandId::ToolRecord:
            writeRecord();
            return true;
        case CommandId::TimerActive:
        case CommandId::ToolSetTimer:
            onSetTimerActive();
            return true;
        case CommandId::TimerOffActive:
        case CommandId::ToolStopTimer:
            stopRecordTimer();
            return true;
        case CommandId::InsertActive:
        case CommandId::ToolInsertActive:
            onInsertActive();
            return true;
        case CommandId::Trend:
            showTrend(!trendShown_);
            return true;
        default:
            return false;
    }
}

bool AnalyzerView::onUpdateCommand(CommandId id, CommandState& state) {
    switch (id) {
        case CommandId::TimerActive:
        case CommandId::ToolSetTimer:
            state.enabled = !timerRunning && linkShown;
            return true;
        case CommandId::TimerOffActive:
        case CommandId::ToolStopTimer:
            state.enabled = timerRunning;
            return true;
        case CommandId::SoftwareInfoActive:
        case CommandId::Record:
            state.enabled = doc_.linkUp;
            return true;
        case CommandId::ToolRecord:
        case CommandId::InsertActive:
        case CommandId::ToolInsertActive:
            state.enabled = true;
            return true;
        case CommandId::Trend:
            state.enabled = true;
            state.checked = trendShown_;
            return true;
        default:
            return false;
    }
}

// ---------------------------------------------------------------- keys and mouse

bool AnalyzerView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == number_) {
        switch (event->type()) {
            case QEvent::FocusIn:
                // After the click that gave the focus has placed the caret.
                QTimer::singleShot(0, number_, [f = number_] { f->selectAll(); });
                break;
            case QEvent::MouseButtonRelease:
                if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
                    number_->hasFocus())
                    number_->selectAll();
                break;
            case QEvent::KeyRelease:
                keyReleaseEvent(static_cast<QKeyEvent*>(event));
                return true;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void AnalyzerView::keyReleaseEvent(QKeyEvent* event) {
    // Every key release stops at the view, as it always did.
    event->accept();
    if (event->key() != Qt::Key_F6 || event->isAutoRepeat()) return;
    readNumberField();
    const auto& handlers = getDocumentCommandHandlers();
    if (handlers.changeFactoryNumber) handlers.changeFactoryNumber(doc_);
}

void AnalyzerView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && number_->hasFocus()) number_->selectAll();
    QWidget::mouseReleaseEvent(event);
}

}  // namespace zta
