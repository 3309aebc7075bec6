// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs.h"

namespace zta {

namespace {
Dialogs* g_dialogs = nullptr;

template <typename T>
std::optional<T> next(std::deque<std::optional<T>>& queue) {
    if (queue.empty()) return std::nullopt;
    const std::optional<T> answer = queue.front();
    queue.pop_front();
    return answer;
}
}  // namespace

QString Dialogs::captionOr(const QString& caption) {
    return caption.isEmpty() ? QStringLiteral("mirel") : caption;
}

void Dialogs::information(const QString& text, const QString& caption, QWidget* owner) {
    show(text, caption, Icon::Information, Ok, owner);
}

void Dialogs::warning(const QString& text, const QString& caption, QWidget* owner) {
    show(text, caption, Icon::Warning, Ok, owner);
}

void Dialogs::error(const QString& text, const QString& caption, QWidget* owner) {
    show(text, caption, Icon::Error, Ok, owner);
}

bool Dialogs::question(const QString& text, const QString& caption, QWidget* owner) {
    return show(text, caption, Icon::Question, Ok | Cancel, owner) == ResultOk;
}

int ScriptedDialogs::show(const QString& text, const QString& caption, Icon icon, int buttons,
                          QWidget*) {
    boxes_.push_back({text, captionOr(caption), icon, buttons});
    if (answers_.empty()) return ResultOk;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void ScriptedDialogs::notify(const QString& text, const QString& caption, Icon icon, QWidget*) {
    boxes_.push_back({text, captionOr(caption), icon, Ok, false});
}

std::optional<int> ScriptedDialogs::askTimerPeriod(int networkNumber, QWidget*) {
    asked.push_back(networkNumber);
    return next(periods);
}

std::optional<QString> ScriptedDialogs::askNote(int networkNumber, QWidget*) {
    asked.push_back(networkNumber);
    return next(notes);
}

std::optional<QString> ScriptedDialogs::askFolder(const QString& start, QWidget*) {
    foldersFrom.push_back(start);
    return next(folders);
}

std::optional<QString> ScriptedDialogs::askFilePath(FileMode mode, const QString& caption,
                                                    const QString& filter, QWidget*) {
    fileAsks.push_back({mode, caption, filter});
    return next(paths);
}

void ScriptedDialogs::showSoftwareInfo(const SoftwareInfoData& info, QWidget*) {
    shown.push_back(info);
}

int ScriptedDialogs::run(QDialog& dialog) {
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

void setDialogs(Dialogs* dialogs) { g_dialogs = dialogs; }

}  // namespace zta
