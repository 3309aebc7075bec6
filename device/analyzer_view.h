// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <map>

#include "device/analyzer_form.h"
#include "device/analyzer_window_factory.h"
#include "ui/command_router.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zta {

class AnalyzerDocument;
class DeviceHost;
class TrendView;

// The form of one analyzer window, one wide row: link and network number, then "Информация о
// приборе", "Показания", "Состояние реле" and "Информация о ПО". Controls are reached by
// their FormField name; the only input is the network number.
class AnalyzerView : public QWidget, public AnalyzerViewInterface, public CommandTarget {
    Q_OBJECT
  public:
    explicit AnalyzerView(AnalyzerDocument& doc, QWidget* parent = nullptr);
    ~AnalyzerView() override;

    AnalyzerDocument& getDocument() const { return doc_; }

    zta::AnalyzerId analyzerId() const override;
    void onReading(const zta::ReadingEvent& event) override;
    void onDisconnected() override;
    void onNoteForAll() override;
    void onStartTimer(int periodSeconds) override { startRecordTimer(periodSeconds); }
    void onStopTimer() override { stopRecordTimer(); }
    void onSoftwareInfoToggled() override { updateSoftwareInfoVisibility(); }
    void onShowSoftwareInfo() override { showSoftwareInfo(); }
    void onBaudAccepted(int baudCode, int networkNumber) override;
    // The trend's mark goes on when the analyzer confirms, not when the operator does.
    void onCommandStateChanged(const zta::CommandReport& report) override;
    // "Команда: <name> — <state>" for the last command confirmed here; empty before one.
    QString commandStateText() const;
    void onSlotChanged(int slot) override;
    void onRecordFolderChanged() override { rebuildFileNames(); }
    int timerPeriod() const override { return timerPeriod_; }
    long long pollCycleMs() const override;

    bool onCommand(CommandId id) override;
    bool onUpdateCommand(CommandId id, CommandState& state) override;

    // once, when the window is first shown.
    void onInitialUpdate();
    void refreshDisplay();
    void applyNumber();
    void updateSoftwareInfoVisibility();
    void showSoftwareInfo();
    void resetCounters();  // the hidden "Сброс" button
    void askBaudSwitch(int baudCode, int networkNumber);

    // Record files and the record timer.
    void rebuildFileNames();
    // False when a line (the record file's or the CSV log's) could not be written.
    bool writeRecord(const QDateTime& now = QDateTime::currentDateTime());
    // The note that ends the next line of this window, in its record file and its CSV log.
    void setNote(const QString& text);
    bool writeRecordAt(const QDateTime& now, const QString& label) override;
    void startRecordTimer(int periodSeconds);
    void stopRecordTimer();
    void onSetTimerActive();  // commands 180, 32773
    void onInsertActive();    // commands 178, 32792
    // The live plot under the form (command "Тренд").
    void showTrend(bool on);
    bool trendShown() const { return trendShown_; }
    TrendView* trend() const { return trend_; }

    // The window is closing: its timer ticks no more (the document settles the count).
    void onClosing();

    QWidget* control(FormField id) const;
    QLineEdit* field(FormField id) const;
    QString text(FormField id) const;  // a field's or a label's text
    int iconOf(FormField id) const;    // the icon id a picture control shows, 0 for none
    QLineEdit* numberField() const { return number_; }
    const QTimer& recordTimer() const;

    // State of the form. The note each file still owes: the record file's, the CSV log's.
    QString pendingText;
    QString pendingCsvNote;
    bool linkShown = false;
    int editNumber = 0;
    double volumeFraction = 0.0;
    QString recordFile;
    QString timerFile;
    bool nextToTimerFile = false;
    bool timerRunning = false;
    int fileNumber = -1;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void buildForm();
    // An extended model's own unit, or the volume fraction a standard model is shown in.
    QString unitNameShown() const;
    QLineEdit* addField(FormField id, int width, bool readOnly = true);
    QLabel* addLabel(FormField id, const QString& text, bool wrap = false);
    QLabel* addIcon(FormField id, int icon);
    void setIcon(FormField id, int icon);
    void setText(FormField id, const QString& text);
    // Data exchange of the number field: false (after the prompt) when it holds no integer.
    bool readNumberField();
    void writeNumberField();
    void onTimerTick();
    bool writeCsvLine(const QDateTime& now);
    DeviceHost& host() const;

    AnalyzerDocument& doc_;
    std::map<FormField, QWidget*> controls_;
    QLineEdit* number_ = nullptr;
    QGroupBox* softwareGroup_ = nullptr;
    QLabel* commandState_ = nullptr;
    int timerPeriod_ = 0;
    bool boxOpen_ = false;
    TrendView* trend_ = nullptr;
    bool trendShown_ = false;
};

}  // namespace zta
