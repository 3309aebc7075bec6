#include "app/station.h"

#include <QDir>
#include <algorithm>

#include "app/user_folders.h"

namespace zta {

Station::Station(QString calDataPath, QString recordFolder, zta::DirectionSetting direction,
                 QObject* parent)
    : QObject(parent), calDataPath_(std::move(calDataPath)), portFactory_(zta::MakePlatformPort) {
    pollTiming_.line.direction = direction;
    recordFolder_ = recordFolder.isEmpty() ? zta::StartRecordFolder()
                                           : zta::FolderWithSeparator(recordFolder);
}

zta::CalReadResult Station::ReadCalData() {
    zta::CalData data;
    zta::CalReadResult result = zta::ReadCalDataFile(calDataPath_, data);
    gas_.calGasName = data.calGasName;
    gas_.maxGas = data.maxGas;
    gas_.midGas = data.midGas;
    std::copy(data.gasMarks.begin(), data.gasMarks.end(), gas_.gasMarks.begin());
    pollBlock_.SetMaxGas(data.maxGas);
    pollBlock_.SetMidGas(data.midGas);
    return result;
}

void Station::WriteCalData() {
    zta::CalData data;
    data.calGasName = gas_.calGasName;
    data.maxGas = pollBlock_.MaxGas();
    data.midGas = pollBlock_.MidGas();
    std::copy(gas_.gasMarks.begin(), gas_.gasMarks.end(), data.gasMarks.begin());
    zta::WriteCalDataFile(calDataPath_, data);
}

void Station::ApplyGasState(const zta::GasState& state) {
    gas_ = state;
    pollBlock_.SetMaxGas(state.maxGas);
    pollBlock_.SetMidGas(state.midGas);
    // Saved at once: a station that is killed or loses power keeps the operator's gas.
    WriteCalData();
    emit gasChanged();
}

void Station::SetRecordFolder(const QString& folder) {
    recordFolder_ = zta::FolderWithSeparator(QDir(folder).absolutePath());
    emit recordFolderChanged();
}

}  // namespace zta
