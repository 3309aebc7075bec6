// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include "app/cal_data_file.h"
#include "device/csv_log.h"
#include "device/record_writer.h"
#include "gas/gas_state.h"
#include "poll/poll_block.h"
#include "poll/poll_thread.h"

namespace zta {

// The station's state apart from its windows: the poll block with the timing and port backend
// its connections use, the calibration gas with its file, and the record folder with the
// writer and CSV log that record into it.
class Station : public QObject {
    Q_OBJECT
  public:
    Station(QString calDataPath, QString recordFolder, zta::DirectionSetting direction,
            QObject* parent = nullptr);

    zta::PollBlock& block() { return pollBlock_; }
    const zta::PollBlock& block() const { return pollBlock_; }
    const zta::PollTiming& pollTiming() const { return pollTiming_; }
    void setPollTiming(const zta::PollTiming& timing) { pollTiming_ = timing; }
    const zta::PortFactory& portFactory() const { return portFactory_; }
    void setPortFactory(zta::PortFactory factory) { portFactory_ = std::move(factory); }

    // Reads the calibration file into the gas state and the block; the caller tells a
    // malformed file.
    zta::CalReadResult readCalData();
    void writeCalData();  // a failure keeps the old file
    const zta::GasState& gasState() const { return gas_; }
    // The block's concentrations and the calibration file follow at once.
    void applyGasState(const zta::GasState& state);

    QString recordFolder() const { return recordFolder_; }
    void setRecordFolder(const QString& folder);
    zta::RecordWriter& recordWriter() { return recordWriter_; }
    zta::CsvLog& csvLog() { return csvLog_; }

  signals:
    void gasChanged();
    void recordFolderChanged();

  private:
    QString calDataPath_;
    zta::PollBlock pollBlock_;
    zta::PollTiming pollTiming_;
    zta::PortFactory portFactory_;
    zta::GasState gas_;
    QString recordFolder_;
    zta::RecordWriter recordWriter_;
    zta::CsvLog csvLog_{recordWriter_};
};

}  // namespace zta
