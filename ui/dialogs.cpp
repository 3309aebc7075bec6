#include "ui/dialogs.h"

namespace zta {

namespace {
Dialogs* g_dialogs = nullptr;

template <typename T>
std::optional<T> Next(std::deque<std::optional<T>>& queue) {
    if (queue.empty()) return std::nullopt;
    const std::optional<T> answer = queue.front();
    queue.pop_front();
    return answer;
}
}  // namespace

QString Dialogs::CaptionOr(const QString& caption) {
    return caption.isEmpty() ? QStringLiteral("mirel") : caption;
}

void Dialogs::Information(const QString& text, const QString& caption, QWidget* owner) {
    Show(text, caption, Icon::Information, Ok, owner);
}

void Dialogs::Warning(const QString& text, const QString& caption, QWidget* owner) {
    Show(text, caption, Icon::Warning, Ok, owner);
}

void Dialogs::Error(const QString& text, const QString& caption, QWidget* owner) {
    Show(text, caption, Icon::Error, Ok, owner);
}

bool Dialogs::Question(const QString& text, const QString& caption, QWidget* owner) {
    return Show(text, caption, Icon::Question, Ok | Cancel, owner) == ResultOk;
}

int ScriptedDialogs::Show(const QString& text, const QString& caption, Icon icon, int buttons,
                          QWidget*) {
    boxes_.push_back({text, CaptionOr(caption), icon, buttons});
    if (answers_.empty())
        return ResultOk;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::optional<int> ScriptedDialogs::AskTimerPeriod(int networkNumber, QWidget*) {
    asked.push_back(networkNumber);
    return Next(periods);
}

std::optional<QString> ScriptedDialogs::AskNote(int networkNumber, QWidget*) {
    asked.push_back(networkNumber);
    return Next(notes);
}

std::optional<QString> ScriptedDialogs::AskFolder(const QString& start, QWidget*) {
    foldersFrom.push_back(start);
    return Next(folders);
}

std::optional<QString> ScriptedDialogs::AskFilePath(FileMode mode, const QString& caption,
                                                    const QString& filter, QWidget*) {
    fileAsks.push_back({mode, caption, filter});
    return Next(paths);
}

void ScriptedDialogs::ShowSoftwareInfo(const SoftwareInfoData& info, QWidget*) {
    shown.push_back(info);
}

int ScriptedDialogs::Run(QDialog& dialog) {
    ++dialogsRun;
    if (!runs.empty()) {
        Runner next = std::move(runs.front());
        runs.pop_front();
        return next(dialog);
    }
    // Rejected: a dialog nobody scripted is cancelled rather than left waiting.
    return runDialog ? runDialog(dialog) : 0;
}

Dialogs& dialogs() {
    static StationDialogs station;
    return g_dialogs ? *g_dialogs : station;
}

void setDialogs(Dialogs* dialogs) {
    g_dialogs = dialogs;
}

}  // namespace zta
