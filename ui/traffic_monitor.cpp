// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/traffic_monitor.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "poll/frame_ring.h"
#include "ui/dialogs.h"
#include "ui/file_io.h"

namespace zta {

TrafficMonitor::TrafficMonitor(const FrameRing& ring, QWidget* parent)
    : QWidget(parent),
      ring_(ring),
      pause_(new QCheckBox(QStringLiteral("Пауза"), this)),
      filter_(new QSpinBox(this)),
      save_(new QPushButton(QStringLiteral("Сохранить..."), this)),
      clear_(new QPushButton(QStringLiteral("Очистить"), this)),
      text_(new QPlainTextEdit(this)) {
    setWindowTitle(QStringLiteral("Обмен по линии"));
    filter_->setRange(-1, 255);
    filter_->setValue(-1);
    filter_->setSpecialValueText(QStringLiteral("все"));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setMaximumBlockCount(kMaxLines);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto* bar = new QHBoxLayout;
    bar->addWidget(pause_);
    bar->addSpacing(12);
    bar->addWidget(new QLabel(QStringLiteral("Сетевой номер:"), this));
    bar->addWidget(filter_);
    bar->addStretch();
    bar->addWidget(clear_);
    bar->addWidget(save_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(text_);
    resize(900, 500);

    timer_.setInterval(kPullMs);
    connect(&timer_, &QTimer::timeout, this, &TrafficMonitor::pull);
    connect(pause_, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) pull();
    });
    connect(filter_, &QSpinBox::valueChanged, this, [this] { reload(); });
    connect(clear_, &QPushButton::clicked, this, [this] {
        text_->clear();
        last_ = ring_.lastSequence();
    });
    connect(save_, &QPushButton::clicked, this, &TrafficMonitor::askAndSave);
}

void TrafficMonitor::setPaused(bool paused) { pause_->setChecked(paused); }
bool TrafficMonitor::paused() const { return pause_->isChecked(); }
void TrafficMonitor::setFilter(int networkNumber) { filter_->setValue(networkNumber); }
int TrafficMonitor::filter() const { return filter_->value(); }

void TrafficMonitor::pull() {
    if (paused()) return;
    const auto frames = ring_.since(last_);
    if (frames.empty()) return;
    last_ = frames.back().sequence;
    const int only = filter();
    QString block;
    for (const FrameRecord& f : frames) {
        if (only >= 0 && f.address() != only) continue;
        if (!block.isEmpty()) block += QLatin1Char('\n');
        block += QString::fromStdString(requestTraceLine(f)) + QLatin1Char('\n') +
                 QString::fromStdString(replyTraceLine(f));
    }
    if (!block.isEmpty()) text_->appendPlainText(block);
}

void TrafficMonitor::reload() {
    text_->clear();
    last_ = 0;
    const bool wasPaused = paused();
    pause_->blockSignals(true);
    pause_->setChecked(false);
    pull();
    pause_->setChecked(wasPaused);
    pause_->blockSignals(false);
}

QString TrafficMonitor::text() const { return text_->toPlainText(); }

bool TrafficMonitor::saveTo(const QString& path, QString* error) const {
    QString content = text() + QLatin1Char('\n');
#ifdef Q_OS_WIN
    content.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
#endif
    return saveWholeFile(path, content.toUtf8(), error);
}

void TrafficMonitor::askAndSave() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить обмен"),
                                     QStringLiteral("обмен.txt"), QStringLiteral("Текст (*.txt)"));
    if (path.isEmpty()) return;
    QString error;
    if (!saveTo(path, &error))
        dialogs().error(QStringLiteral("Файл %1 не записан: %2. Прежний файл сохранён.")
                            .arg(QDir::toNativeSeparators(path), error),
                        windowTitle(), this);
}

void TrafficMonitor::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    pull();
    timer_.start();
}

void TrafficMonitor::hideEvent(QHideEvent* event) {
    timer_.stop();
    QWidget::hideEvent(event);
}

}  // namespace zta
