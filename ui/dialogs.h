#pragma once

#include <QString>
#include <QWidget>
#include <deque>
#include <vector>

namespace zta {

// Every message box of the station goes through the current Prompter so that tests can read
// the exact texts and answer confirmations.
class Prompter {
public:
    enum class Icon { None, Information, Question, Error, Warning };
    enum Button { Ok = 0x1, Cancel = 0x2 };
    enum Result { ResultOk = 1, ResultCancel = 2 };

    virtual ~Prompter() = default;

    // `buttons` is Ok or Ok|Cancel; an empty caption becomes "mirel". Returns ResultOk or
    // ResultCancel.
    virtual int Show(const QString& text, const QString& caption, Icon icon, int buttons,
                     QWidget* owner = nullptr) = 0;

    void Information(const QString& text, const QString& caption = {}, QWidget* owner = nullptr);
    void Warning(const QString& text, const QString& caption = {}, QWidget* owner = nullptr);
    void Error(const QString& text, const QString& caption = {}, QWidget* owner = nullptr);
    // OK and Cancel with the question icon; true on OK.
    bool Question(const QString& text, const QString& caption = {}, QWidget* owner = nullptr);

    static QString CaptionOr(const QString& caption);
};

class MessageBoxPrompter : public Prompter {
public:
    int Show(const QString& text, const QString& caption, Icon icon, int buttons,
             QWidget* owner = nullptr) override;
};

// Records each box and answers from a queue (ResultOk once the queue is empty). Safe to call
// from the UI thread only, like the real boxes.
class ScriptedPrompter : public Prompter {
public:
    struct Box {
        QString text;
        QString caption;
        Icon icon;
        int buttons;
    };

    int Show(const QString& text, const QString& caption, Icon icon, int buttons,
             QWidget* owner = nullptr) override;

    void Answer(int result) { answers_.push_back(result); }
    const std::vector<Box>& boxes() const { return boxes_; }
    void clear() { boxes_.clear(); }

private:
    std::vector<Box> boxes_;
    std::deque<int> answers_;
};

// The prompter in use; SetPrompter(nullptr) goes back to message boxes.
Prompter& GetPrompter();
void SetPrompter(Prompter* prompter);

}  // namespace zta
