// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

class QDialog;

namespace zta {

// What the software information dialog is given: number -1 when nothing was read yet.
struct SoftwareInfoData {
    int networkNumber = -1;
    QString versionText;
    QString softwareName;
    QString identifier;
};

// Every modal step of the station (message boxes, the operator's dialogs, file and folder
// choices, the service and gas dialogs) goes through the one Dialogs in use, so that tests
// read the exact texts and answer without a modal loop.
class Dialogs {
  public:
    enum class Icon { None, Information, Question, Error, Warning };
    enum Button { Ok = 0x1, Cancel = 0x2 };
    enum Result { ResultOk = 1, ResultCancel = 2 };
    enum class FileMode { Open, Save };

    virtual ~Dialogs() = default;

    // `buttons` is Ok or Ok|Cancel; an empty caption becomes "mirel". Returns ResultOk or
    // ResultCancel.
    virtual int show(const QString& text, const QString& caption, Icon icon, int buttons,
                     QWidget* owner = nullptr) = 0;

    void information(const QString& text, const QString& caption = {}, QWidget* owner = nullptr);
    void warning(const QString& text, const QString& caption = {}, QWidget* owner = nullptr);
    void error(const QString& text, const QString& caption = {}, QWidget* owner = nullptr);
    // OK and Cancel with the question icon; true on OK.
    bool question(const QString& text, const QString& caption = {}, QWidget* owner = nullptr);

    static QString captionOr(const QString& caption);

    // A report that must not hold its caller (a record timer, a file write): the box shows
    // without a modal loop and the caller goes on at once. The scripted dialogs record it as a
    // box that is not modal.
    virtual void notify(const QString& text, const QString& caption, Icon icon,
                        QWidget* owner = nullptr) {
        show(text, caption, icon, Ok, owner);
    }

    // The record timer dialog and the note dialog; nothing on Cancel. `networkNumber` -1 means
    // all windows.
    virtual std::optional<int> askTimerPeriod(int networkNumber, QWidget* owner) = 0;
    virtual std::optional<QString> askNote(int networkNumber, QWidget* owner) = 0;
    // A folder, starting at `start`; nothing on Cancel.
    virtual std::optional<QString> askFolder(const QString& start, QWidget* owner) = 0;
    // A file to open or to save; nothing on Cancel.
    virtual std::optional<QString> askFilePath(FileMode mode, const QString& caption,
                                               const QString& filter, QWidget* owner) = 0;
    virtual void showSoftwareInfo(const SoftwareInfoData& info, QWidget* owner) = 0;
    // A dialog built by the caller, run modally; its exec() result.
    virtual int run(QDialog& dialog) = 0;
};

class StationDialogs : public Dialogs {
  public:
    int show(const QString& text, const QString& caption, Icon icon, int buttons,
             QWidget* owner = nullptr) override;
    void notify(const QString& text, const QString& caption, Icon icon,
                QWidget* owner = nullptr) override;
    std::optional<int> askTimerPeriod(int networkNumber, QWidget* owner) override;
    std::optional<QString> askNote(int networkNumber, QWidget* owner) override;
    std::optional<QString> askFolder(const QString& start, QWidget* owner) override;
    std::optional<QString> askFilePath(FileMode mode, const QString& caption, const QString& filter,
                                       QWidget* owner) override;
    void showSoftwareInfo(const SoftwareInfoData& info, QWidget* owner) override;
    int run(QDialog& dialog) override;
};

// Records every call and answers from a queue per kind. Empty queues answer OK to a message box
// and Cancel to everything else; Run answers with `runDialog` once its queue is empty. Safe to
// call from the UI thread only, like the real dialogs.
class ScriptedDialogs : public Dialogs {
  public:
    struct Box {
        QString text;
        QString caption;
        Icon icon;
        int buttons;
        bool modal = true;
    };
    struct FileAsk {
        FileMode mode;
        QString caption;
        QString filter;
    };
    using Runner = std::function<int(QDialog&)>;

    int show(const QString& text, const QString& caption, Icon icon, int buttons,
             QWidget* owner = nullptr) override;
    void notify(const QString& text, const QString& caption, Icon icon,
                QWidget* owner = nullptr) override;
    std::optional<int> askTimerPeriod(int networkNumber, QWidget* owner) override;
    std::optional<QString> askNote(int networkNumber, QWidget* owner) override;
    std::optional<QString> askFolder(const QString& start, QWidget* owner) override;
    std::optional<QString> askFilePath(FileMode mode, const QString& caption, const QString& filter,
                                       QWidget* owner) override;
    void showSoftwareInfo(const SoftwareInfoData& info, QWidget* owner) override;
    int run(QDialog& dialog) override;

    // The answer of the next message box.
    void answer(int result) { answers_.push_back(result); }
    const std::vector<Box>& boxes() const { return boxes_; }
    void clear() { boxes_.clear(); }

    std::deque<std::optional<int>> periods;
    std::deque<std::optional<QString>> notes;
    std::deque<std::optional<QString>> folders;
    std::deque<std::optional<QString>> paths;
    std::deque<Runner> runs;
    Runner runDialog;

    std::vector<int> asked;  // network numbers of the timer and note dialogs
    std::vector<QString> foldersFrom;
    std::vector<FileAsk> fileAsks;
    std::vector<SoftwareInfoData> shown;
    int dialogsRun = 0;

  private:
    std::vector<Box> boxes_;
    std::deque<int> answers_;
};

// The dialogs in use; setDialogs(nullptr) goes back to the station's real ones.
Dialogs& dialogs();
void setDialogs(Dialogs* dialogs);

}  // namespace zta
