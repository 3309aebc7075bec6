#include "ui/dialogs.h"

#include <QMessageBox>

namespace zta {

namespace {
Prompter* g_prompter = nullptr;
}

QString Prompter::CaptionOr(const QString& caption) {
    return caption.isEmpty() ? QStringLiteral("mirel") : caption;
}

void Prompter::Information(const QString& text, const QString& caption, QWidget* owner) {
    Show(text, caption, Icon::Information, Ok, owner);
}

void Prompter::Warning(const QString& text, const QString& caption, QWidget* owner) {
    Show(text, caption, Icon::Warning, Ok, owner);
}

void Prompter::Error(const QString& text, const QString& caption, QWidget* owner) {
    Show(text, caption, Icon::Error, Ok, owner);
}

bool Prompter::Question(const QString& text, const QString& caption, QWidget* owner) {
    return Show(text, caption, Icon::Question, Ok | Cancel, owner) == ResultOk;
}

int MessageBoxPrompter::Show(const QString& text, const QString& caption, Icon icon,
                             int buttons, QWidget* owner) {
    QMessageBox::Icon qicon = QMessageBox::NoIcon;
    switch (icon) {
    case Icon::Information: qicon = QMessageBox::Information; break;
    case Icon::Question: qicon = QMessageBox::Question; break;
    case Icon::Error: qicon = QMessageBox::Critical; break;
    case Icon::Warning: qicon = QMessageBox::Warning; break;
    case Icon::None: break;
    }
    QMessageBox::StandardButtons qbuttons = QMessageBox::Ok;
    if (buttons & Cancel)
        qbuttons |= QMessageBox::Cancel;
    // The system's texts carry "\r\n"; a lone "\r" would show as a box on some styles.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(qicon, CaptionOr(caption), shown, qbuttons, owner);
    return box.exec() == QMessageBox::Ok ? ResultOk : ResultCancel;
}

int ScriptedPrompter::Show(const QString& text, const QString& caption, Icon icon, int buttons,
                           QWidget*) {
    boxes_.push_back({text, CaptionOr(caption), icon, buttons});
    if (answers_.empty())
        return ResultOk;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

Prompter& GetPrompter() {
    static MessageBoxPrompter standard;
    return g_prompter ? *g_prompter : standard;
}

void SetPrompter(Prompter* prompter) {
    g_prompter = prompter;
}

}  // namespace zta
