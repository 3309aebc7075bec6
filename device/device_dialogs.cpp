#include "device/device_host.h"

#include "device/software_info_panel.h"
#include "device/record_dialogs.h"

namespace zta {

namespace {

class StationDialogs : public DeviceDialogs {
public:
    std::optional<int> AskTimerPeriod(int networkNumber, QWidget* owner) override {
        RecordTimerDialog dialog(owner);
        dialog.setNetworkNumber(networkNumber);
        dialog.setPeriod(0);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return dialog.period();
    }

    std::optional<QString> AskNote(int networkNumber, QWidget* owner) override {
        NoteDialog dialog(owner);
        dialog.setNetworkNumber(networkNumber);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return dialog.text();
    }

    void ShowSoftwareInfo(const SoftwareInfoData& info, QWidget* owner) override {
        SoftwareInfoPanel dialog(owner);
        dialog.setNumber(info.networkNumber);
        if (info.networkNumber != -1) {
            dialog.setVersion(info.versionText);
            dialog.setName(info.softwareName);
            dialog.setIdentifier(info.identifier);
        }
        dialog.exec();
    }
};

DeviceDialogs* g_dialogs = nullptr;

}  // namespace

DeviceDialogs& GetDeviceDialogs() {
    static StationDialogs station;
    return g_dialogs ? *g_dialogs : station;
}

void SetDeviceDialogs(DeviceDialogs* dialogs) {
    g_dialogs = dialogs;
}

}  // namespace zta
