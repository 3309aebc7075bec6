// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMdiSubWindow>
#include <memory>

class QMdiArea;

namespace zta {

class AnalyzerDocument;
class AnalyzerView;
class DeviceHost;

// One analyzer window: the MDI child that owns its document and shows its view. Maximized, it
// leaves the main window's caption as it was.
class AnalyzerSubWindow : public QMdiSubWindow {
    Q_OBJECT
  public:
    explicit AnalyzerSubWindow(QWidget* parent = nullptr);
    ~AnalyzerSubWindow() override;

    AnalyzerDocument& document() const { return *doc_; }
    AnalyzerView* view() const { return view_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    std::unique_ptr<AnalyzerDocument> doc_;
    AnalyzerView* view_ = nullptr;
};

// Opens an empty analyzer window in `area`: registers it in the host's poll block, shows it
// shrunk to its form and runs the view's initial update. Returns nullptr when the window limit
// refused it (the box has been shown and nothing was added).
AnalyzerSubWindow* openAnalyzerWindow(DeviceHost& host, QMdiArea& area);

}  // namespace zta
