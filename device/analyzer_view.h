#pragma once

#include <QDateTime>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <map>

#include "ui/command_router.h"
#include "device/analyzer_form.h"
#include "device/analyzer_window_factory.h"

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

    AnalyzerDocument& GetDocument() const { return doc_; }

    // AnalyzerViewInterface: notices 100..700 and baud codes below 32 (value = network number).
    void OnViewNotice(int code, int value) override;
    void OnCommandStateChanged() override;
    // "Команда: <name> — <state>" for the last command confirmed here; empty before one.
    QString commandStateText() const;
    void OnSlotChanged(int slot) override;
    void OnRecordFolderChanged() override { RebuildFileNames(); }
    int timerPeriod() const override { return timerPeriod_; }

    bool OnCommand(CommandId id) override;
    bool OnUpdateCommand(CommandId id, CommandState& state) override;

    // Once, when the window is first shown.
    void OnInitialUpdate();
    void RefreshDisplay();
    void ApplyNumber();
    void UpdateSoftwareInfoVisibility();
    void ShowSoftwareInfo();
    void ResetCounters();  // the hidden "Сброс" button
    void AskBaudSwitch(int baudCode, int networkNumber);

    // Record files and the record timer.
    void RebuildFileNames();
    bool WriteRecord();
    void StartTimer(int periodSeconds);
    void StopTimer();
    void OnSetTimerActive();  // commands 180, 32773
    void OnInsertActive();    // commands 178, 32792
    // The live plot under the form (command "Тренд").
    void ShowTrend(bool on);
    bool trendShown() const { return trendShown_; }
    TrendView* trend() const { return trend_; }

    // The window is closing: its timer ticks no more (the document settles the count).
    void OnClosing() { recordTimer_.stop(); }

    QWidget* control(FormField id) const;
    QLineEdit* field(FormField id) const;
    QString text(FormField id) const;  // a field's or a label's text
    int iconOf(FormField id) const;    // the icon id a picture control shows, 0 for none
    QLineEdit* numberField() const { return number_; }
    const QTimer& recordTimer() const { return recordTimer_; }

    // State of the form.
    QString pendingText;
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
    void BuildForm();
    QLineEdit* AddField(FormField id, int width, bool readOnly = true);
    QLabel* AddLabel(FormField id, const QString& text, bool wrap = false);
    QLabel* AddIcon(FormField id, int icon);
    void SetIcon(FormField id, int icon);
    void SetText(FormField id, const QString& text);
    // Data exchange of the number field: false (after the prompt) when it holds no integer.
    bool ReadNumberField();
    void WriteNumberField();
    void OnTimerTick();
    void WriteCsvLine(const QDateTime& now);
    DeviceHost& host() const;

    AnalyzerDocument& doc_;
    std::map<FormField, QWidget*> controls_;
    QLineEdit* number_ = nullptr;
    QGroupBox* softwareGroup_ = nullptr;
    QLabel* commandState_ = nullptr;
    QTimer recordTimer_;
    int timerPeriod_ = 0;
    bool boxOpen_ = false;
    TrendView* trend_ = nullptr;
    bool trendShown_ = false;
};

}  // namespace zta
