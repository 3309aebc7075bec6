// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/dialog_screenshots.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>

#include "commands/service_dialogs.h"
#include "device/analyzer_document.h"
#include "gas/connected_gas_parameters_dialog.h"
#include "gas/gas_parameters_dialog.h"
#include "ui/record_dialogs.h"
#include "ui/software_info_panel.h"

namespace zta {

std::vector<OperatorDialog> makeOperatorDialogs(QWidget* parent) {
    std::vector<OperatorDialog> out;
    auto add = [&](const char* file, auto* dialog) {
        out.push_back({QString::fromLatin1(file), std::unique_ptr<QDialog>(dialog)});
        return dialog;
    };

    auto* gaz = add("set_param_gaz.png", new GasParametersDialog(parent));
    gaz->setMaximum(4.4);
    gaz->setMiddle(2.7);
    gaz->setGasMarks({true});

    auto* devices =
        add("set_param_gas_working_devices.png", new ConnectedGasParametersDialog(parent));
    const zta::GasDeviceRow methane{QStringLiteral("Метан"), QStringLiteral("%НКПР"), 4.4, 50, 100};
    const zta::GasDeviceRow propane{QStringLiteral("Пропан"), QStringLiteral("об.доли"), 1.7, 0.8,
                                    1.7};
    const zta::GasDeviceRow butane{QStringLiteral("Бутан"), QStringLiteral("об.доли"), 0.7, 0.35,
                                   0.7};
    devices->setDevices({methane, propane, methane, butane});

    add("set_nomer.png", new NetworkNumberDialog(parent))->setCurrentNumber(3);
    add("set_speed.png", new BaudRateDialog(parent))->setCurrentNumber(3);

    auto* porog = add("set_porog.png", new ThresholdDialog(parent));
    porog->setCaption(QStringLiteral("Установка порога 1 в приборе № 3"));
    porog->setGasCode(1);
    porog->setThreshold(20);

    auto* zav = add("change_zav_nomer.png", new FactoryNumberDialog(parent));
    zav->setNetworkNumber(3);
    zav->setFactoryNumber(1234);

    auto* timer = add("timer_set.png", new RecordTimerDialog(parent));
    timer->setNetworkNumber(3);
    timer->setPeriod(60);

    auto* note = add("insert_string.png", new NoteDialog(parent));
    note->setNetworkNumber(3);
    note->setText(QStringLiteral("Поверочный газ 2.70 об.доли подан"));

    AnalyzerDocument doc;
    doc.readings.softwareVersion = 12;
    doc.softwareName = QStringLiteral("zta_k7.hex");
    auto* info = add("device_info_po.png", new SoftwareInfoPanel(parent));
    info->setNumber(3);
    info->setVersion(doc.softwareVersionText());
    info->setName(doc.softwareNameText());
    info->setIdentifier(doc.softwareIdentifier());
    return out;
}

int saveDialogScreenshots(QWidget* parent, const QString& folder) {
    const QDir dir(folder);
    int failures = 0;
    for (OperatorDialog& d : makeOperatorDialogs(parent)) {
        d.dialog->show();
        QCoreApplication::processEvents();
        const QString file = dir.filePath(d.fileName);
        if (!d.dialog->grab().save(file)) {
            qCritical("cannot write %s", qPrintable(file));
            ++failures;
        }
        d.dialog->hide();
    }
    return failures;
}

}  // namespace zta
