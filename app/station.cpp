// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/station.h"

#include <QDir>
#include <algorithm>

#include "app/user_folders.h"

namespace zta {

Station::Station(QString calDataPath, QString recordFolder, zta::DirectionSetting direction,
                 QObject* parent)
    : QObject(parent), calDataPath_(std::move(calDataPath)), portFactory_(zta::makePlatformPort) {
    pollTiming_.line.direction = direction;
    recordFolder_ =
        recordFolder.isEmpty() ? zta::startRecordFolder() : zta::folderWithSeparator(recordFolder);
}

zta::CalReadResult Station::readCalData() {
    zta::CalData data;
    zta::CalReadResult result = zta::readCalDataFile(calDataPath_, data);
    gas_.calGasName = data.calGasName;
    gas_.maxGas = data.maxGas;
    gas_.midGas = data.midGas;
    std::copy(data.gasMarks.begin(), data.gasMarks.end(), gas_.gasMarks.begin());
    pollBlock_.setMaxGas(data.maxGas);
    pollBlock_.setMidGas(data.midGas);
    return result;
}

void Station::writeCalData() {
    zta::CalData data;
    data.calGasName = gas_.calGasName;
    data.maxGas = pollBlock_.maxGas();
    data.midGas = pollBlock_.midGas();
    std::copy(gas_.gasMarks.begin(), gas_.gasMarks.end(), data.gasMarks.begin());
    zta::writeCalDataFile(calDataPath_, data);
}

void Station::applyGasState(const zta::GasState& state) {
    gas_ = state;
    pollBlock_.setMaxGas(state.maxGas);
    pollBlock_.setMidGas(state.midGas);
    // Saved at once: a station that is killed or loses power keeps the operator's gas.
    writeCalData();
    emit gasChanged();
}

void Station::setRecordFolder(const QString& folder) {
    recordFolder_ = zta::folderWithSeparator(QDir(folder).absolutePath());
    emit recordFolderChanged();
}

}  // namespace zta
