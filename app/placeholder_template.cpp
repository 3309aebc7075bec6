#include "app/placeholder_template.h"

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QVBoxLayout>
#include <set>

#include "ui/command_ids.h"
#include "ui/command_router.h"
#include "app/main_window.h"
#include "ui/dialogs.h"
#include "device/form_window_factory.h"

namespace {

class PlaceholderView : public QWidget, public AnalyzerView {
public:
    explicit PlaceholderView(CMainFrame& frame) : frame_(frame) {
        label_ = new QLabel(this);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(label_);
        Live().insert(this);
    }
    ~PlaceholderView() override {
        Live().erase(this);
        if (slot_ >= 0)
            for (const auto& moved : frame_.block().Close(slot_))
                for (PlaceholderView* v : Live())
                    if (ViewIdOf(v) == moved.view)
                        v->OnSlotChanged(moved.newSlot);
    }
    // Resolved without the window list, which is being torn down while views go.
    static std::set<PlaceholderView*>& Live() {
        static std::set<PlaceholderView*> live;
        return live;
    }

    bool Register() {
        const auto slot = frame_.block().Register(ViewIdOf(this));
        if (!slot) {
            GetPrompter().Information(QStringLiteral("Открыть больше пятидесяти окон нельзя."),
                                      QStringLiteral("Ограничение"), &frame_);
            return false;
        }
        slot_ = *slot;
        Refresh();
        return true;
    }

    void OnViewNotice(int code, int) override {
        if (code == NoticeDataChanged || code == NoticeDisconnected)
            Refresh(code == NoticeDisconnected);
    }
    void OnSlotChanged(int slot) override { slot_ = slot; }
    void OnRecordFolderChanged() override {}
    int timerPeriod() const override { return 0; }

private:
    void Refresh(bool disconnected = false) {
        const zta::Slot s = frame_.block().Snapshot(slot_);
        const bool up = !disconnected && s.errorCount < zta::kLostContactLimit;
        setWindowTitle(QStringLiteral("Прибор №%1").arg(s.address));
        if (parentWidget())
            parentWidget()->setWindowTitle(windowTitle());
        label_->setText(up ? QStringLiteral("связь есть") : QStringLiteral("нет связи"));
    }

    CMainFrame& frame_;
    QLabel* label_;
    int slot_ = -1;
};

class PlaceholderTemplate : public DocumentTemplate {
public:
    QMdiSubWindow* OpenDocumentFile(CMainFrame& frame) override {
        auto* view = new PlaceholderView(frame);
        if (!view->Register()) {
            delete view;
            return nullptr;
        }
        QMdiSubWindow* child = frame.mdiArea()->addSubWindow(view);
        child->setAttribute(Qt::WA_DeleteOnClose);
        child->setWindowTitle(view->windowTitle());
        child->show();
        return child;
    }
    std::vector<CommandTarget*> Route(QMdiSubWindow*) override { return {}; }
    AnalyzerView* ViewOf(QMdiSubWindow* child) override {
        return child ? dynamic_cast<PlaceholderView*>(child->widget()) : nullptr;
    }
};

}  // namespace

std::unique_ptr<DocumentTemplate> MakePlaceholderTemplate() {
    return std::make_unique<PlaceholderTemplate>();
}

std::unique_ptr<DocumentTemplate> MakeDocumentTemplate() {
    return std::make_unique<CMirelDocTemplate>();
}
