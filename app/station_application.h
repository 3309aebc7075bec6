// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

#include "app/station_options.h"
#include "device/analyzer_window_factory.h"
#include "ui/command_router.h"

class QWidget;

namespace zta {

class BenchControl;
class BusTools;
class MainWindow;
class SearchControl;
class Station;

// The About box's second line: the build's version, as `zta-k7 --version` prints it.
QString stationBuildText();

// The application object: owns the station core, the main window with its tools and the
// analyzer-window template, and handles the application-level commands (new analyzer window,
// About, Exit).
class StationApplication : public QObject, public CommandTarget {
    Q_OBJECT
  public:
    explicit StationApplication(StationOptions options = {}, QObject* parent = nullptr);
    ~StationApplication() override;

    // Creates the main window with `windowFactory` (the analyzer windows of device/ when null),
    // opens the first analyzer window and shows the main window.
    bool initInstance(std::unique_ptr<AnalyzerWindowFactory> windowFactory = nullptr,
                      bool show = true);

    MainWindow* mainFrame() const { return frame_; }
    // The main window's tools, made with it and gone with it.
    BusTools& busTools() const { return *busTools_; }
    SearchControl& searchControl() const { return *searchControl_; }
    BenchControl& benchControl() const { return *benchControl_; }
    AnalyzerWindowFactory& windowFactory() const { return *template_; }

    bool onCommand(CommandId id) override;
    bool onUpdateCommand(CommandId id, CommandState& state) override;

    static void showAbout(QWidget* owner);

  private:
    StationOptions options_;
    std::unique_ptr<AnalyzerWindowFactory> template_;
    std::unique_ptr<Station> station_;
    QPointer<MainWindow> frame_;
    BusTools* busTools_ = nullptr;
    SearchControl* searchControl_ = nullptr;
    BenchControl* benchControl_ = nullptr;
};

}  // namespace zta
