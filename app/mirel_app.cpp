#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiSubWindow>
#include <QVBoxLayout>

#include "app/document_template.h"
#include "app/main_frame.h"
#include "app/placeholder_template.h"
#include "app/toolbar_icons.h"
#include "zta/version.h"

CMirelApp::CMirelApp(StationOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {}

CMirelApp::~CMirelApp() {
    delete frame_.data();
}

bool CMirelApp::InitInstance(std::unique_ptr<DocumentTemplate> docTemplate, bool show) {
    template_ = docTemplate ? std::move(docTemplate) : MakeDocumentTemplate();
    QApplication::setWindowIcon(StationIcon());
    // The settings key of the historic station; nothing is stored under it.
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    frame_ = new CMainFrame(this, *template_, options_);
    frame_->setAttribute(Qt::WA_DeleteOnClose, false);
    // The first analyzer window opens empty with network number 0.
    frame_->OpenNewDocument();
    if (show)
        frame_->show();
    return true;
}

bool CMirelApp::OnCommand(int id) {
    switch (id) {
    case CmdNewDocument:
        if (frame_)
            frame_->OpenNewDocument();
        return true;
    case CmdAbout:
    case CmdToolAbout: ShowAbout(frame_); return true;
    case CmdExit:
        if (frame_)
            frame_->close();
        return true;
    default: return false;
    }
}

bool CMirelApp::OnUpdateCommand(int id, CommandState&) {
    return id == CmdNewDocument || id == CmdAbout || id == CmdToolAbout || id == CmdExit;
}

QString StationBuildText() {
    return QStringLiteral("Сборка zta-k7 %1").arg(QLatin1String(zta::kVersion));
}

void CMirelApp::ShowAbout(QWidget* owner) {
    QDialog box(owner);
    box.setObjectName(QStringLiteral("aboutBox"));
    box.setWindowTitle(QStringLiteral("О программе ZTA-K7.exe"));
    auto* icon = new QLabel;
    icon->setPixmap(StationIcon().pixmap(32, 32));
    auto* text = new QLabel(QStringLiteral(
        "Программа ZTA-K7.exe ver 2.0  предназначена для проведения испытательных, тестовых и "
        "калибровочных работ с газоанализаторами ZTA-K7"));
    text->setWordWrap(true);
    text->setMinimumWidth(300);
    auto* build = new QLabel(StationBuildText());
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
