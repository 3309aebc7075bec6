// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/station_application.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiSubWindow>
#include <QVBoxLayout>

#include "app/bench_control.h"
#include "app/bus_tools.h"
#include "app/gas_control.h"
#include "app/main_window.h"
#include "app/search_control.h"
#include "app/station.h"
#include "commands/service_commands.h"
#include "device/analyzer_window_factory.h"
#include "device/form_window_factory.h"
#include "ui/toolbar_icons.h"
#include "zta/version.h"

namespace zta {

StationApplication::StationApplication(StationOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    setDocumentCommandHandlers(serviceCommandHandlers());
}

StationApplication::~StationApplication() {
    delete frame_.data();  // before the station, whose threads it stops
}

bool StationApplication::initInstance(std::unique_ptr<AnalyzerWindowFactory> windowFactory,
                                      bool show) {
    template_ = windowFactory ? std::move(windowFactory) : makeAnalyzerWindowFactory();
    QApplication::setWindowIcon(stationIcon());
    // The settings key of the historic station; nothing is stored under it.
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    station_ = std::make_unique<Station>(options_);
    frame_ = new MainWindow(this, *station_, *template_, options_);
    frame_->setAttribute(Qt::WA_DeleteOnClose, false);
    auto* gas = new GasControl(*frame_);
    busTools_ = new BusTools(*frame_);
    searchControl_ = new SearchControl(*frame_, *busTools_);
    benchControl_ = new BenchControl(*frame_);
    for (CommandTarget* target :
         std::initializer_list<CommandTarget*>{gas, searchControl_, busTools_, benchControl_})
        frame_->addFrameTarget(target);
    // The first analyzer window opens empty with network number 0.
    frame_->openNewDocument();
    if (show) frame_->show();
    return true;
}

bool StationApplication::onCommand(CommandId id) {
    switch (id) {
        case CommandId::NewDocument:
            if (frame_) frame_->openNewDocument();
            return true;
        case CommandId::About:
        case CommandId::ToolAbout:
            showAbout(frame_);
            return true;
        case CommandId::Exit:
            if (frame_) frame_->close();
            return true;
        default:
            return false;
    }
}

bool StationApplication::onUpdateCommand(CommandId id, CommandState&) {
    return id == CommandId::NewDocument || id == CommandId::About || id == CommandId::ToolAbout ||
           id == CommandId::Exit;
}

QString stationBuildText() {
    return QStringLiteral("Сборка zta-k7 %1").arg(QLatin1String(zta::kVersion));
}

void StationApplication::showAbout(QWidget* owner) {
    QDialog box(owner);
    box.setObjectName(QStringLiteral("aboutBox"));
    box.setWindowTitle(QStringLiteral("О программе ZTA-K7.exe"));
    auto* icon = new QLabel;
    icon->setPixmap(stationIcon().pixmap(32, 32));
    auto* text = new QLabel(QStringLiteral(
        "Программа ZTA-K7.exe ver 2.0  предназначена для проведения испытательных, тестовых и "
        "калибровочных работ с газоанализаторами ZTA-K7"));
    text->setWordWrap(true);
    text->setMinimumWidth(300);
    auto* build = new QLabel(stationBuildText());
    build->setObjectName(QStringLiteral("aboutBuild"));
    auto* texts = new QVBoxLayout;
    texts->addWidget(text);
    texts->addWidget(build);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(&box);
    layout->addLayout(row);
    layout->addWidget(buttons);
    box.exec();
}

}  // namespace zta
