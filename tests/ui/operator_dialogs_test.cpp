// SPDX-License-Identifier: GPL-3.0-or-later
// The dialogs an operator works with show their texts whole, also the prompts that get their
// text only as the dialog opens.

#include <QLabel>
#include <QTest>

#include "app/dialog_screenshots.h"
#include "ui/record_dialogs.h"

using namespace zta;

namespace {

// Whether `label` got the room its text needs; the reason when it did not.
QString cut(const QLabel* label) {
    if (!label->isVisible() || label->text().isEmpty()) return {};
    const int needHeight = label->wordWrap() ? label->heightForWidth(label->width())
                                             : label->minimumSizeHint().height();
    const int needWidth = label->wordWrap() ? 0 : label->minimumSizeHint().width();
    if (label->height() >= needHeight && label->width() >= needWidth) return {};
    return QStringLiteral("\"%1\" has %2x%3, needs %4x%5")
        .arg(label->text())
        .arg(label->width())
        .arg(label->height())
        .arg(needWidth)
        .arg(needHeight);
}

QStringList cutLabels(QDialog& dialog) {
    dialog.show();
    QCoreApplication::processEvents();
    QStringList cuts;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        if (const QString why = cut(label); !why.isEmpty()) cuts << why;
    dialog.hide();
    return cuts;
}

}  // namespace

class OperatorDialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void textsFit() {
        QWidget owner;
        const auto dialogs = makeOperatorDialogs(&owner);
        QCOMPARE(dialogs.size(), size_t(9));
        for (const OperatorDialog& d : dialogs) {
            const QStringList cuts = cutLabels(*d.dialog);
            QVERIFY2(cuts.isEmpty(), qPrintable(d.fileName + ": " + cuts.join("; ")));
        }
    }

    // The record timer's prompt for all windows is the longest one; the same dialog object
    // opens for one window after it.
    void timerPromptsFit() {
        RecordTimerDialog dialog;
        for (int number : {-1, 3, 255}) {
            dialog.setNetworkNumber(number);
            const QStringList cuts = cutLabels(dialog);
            QVERIFY2(cuts.isEmpty(), qPrintable(cuts.join("; ")));
        }
    }
};

QTEST_MAIN(OperatorDialogsTest)
#include "operator_dialogs_test.moc"
