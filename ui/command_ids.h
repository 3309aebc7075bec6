// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace zta {

// Numeric command ids of menus and tool-bar buttons. They keep the station's historic values
// because status prompts, enabling rules and the tool-bar layout are keyed by them.
enum class CommandId : int {
    None = 0,  // an action that carries no command

    // "Связь"
    Connect = 130,
    Disconnect = 131,
    Baud1200 = 138,
    Baud2400 = 139,
    Baud4800 = 140,
    Baud9600 = 141,
    Baud19200 = 142,
    Search = 151,
    StopSearch = 152,
    PortPlaceholder = 32811,  // "Com", replaced by the port items at the first sizing
    PortFirst = 1025,         // port item i has id portCommand(i)
    PortLast = 1074,

    // "Документ"
    NewDocument = 148,
    RecordFolder = 149,
    Record = 170,
    TimerActive = 180,
    TimerAll = 181,
    TimerOffActive = 182,
    TimerOffAll = 183,
    Exit = 195,

    // "Установки"
    ChangeNumber = 153,
    ChangeSpeed = 154,
    SetZero = 158,
    HighGas = 159,
    MiddleGas = 160,
    TypicalConcentration = 184,
    Threshold1 = 191,
    Threshold2 = 192,
    InsertActive = 178,
    InsertAll = 179,
    Concentration = 144,
    ConnectedDevicesGas = 32813,

    // "Вид газа", in gas table order
    GasMethane = 145,
    GasPropane = 146,
    GasHexane = 150,
    GasButane = 32794,
    GasIsobutane = 32796,
    GasPentane = 32807,
    GasCyclopentane = 32808,
    GasPropylene = 32809,

    // "Информация о ПО"
    SoftwareInfoActive = 32803,
    SoftwareInfoAll = 32804,

    // "Вид", "Окно", "Помощь"
    ViewToolBar = 172,
    ViewStatusBar = 173,
    WindowCascade = 57650,
    WindowTile = 57651,
    About = 169,

    // Tool-bar buttons (several do the same as a menu item)
    ToolNewDocument = 32771,
    ToolRecordFolder = 32772,
    ToolSetTimer = 32773,
    ToolConnect = 32774,
    ToolDisconnect = 32775,
    ToolSearch = 32776,
    ToolStopSearch = 32777,
    ToolSetZero = 32778,
    ToolHighGas = 32779,
    ToolMiddleGas = 32780,
    ToolChangeNumber = 32781,
    BaudCombo = 32782,
    PortCombo = 32783,
    ToolChangeSpeed = 32784,
    ToolStopTimer = 32785,
    ToolRecord = 32787,
    ToolAbout = 32788,
    ToolTypicalConcentration = 32789,
    ToolThreshold1 = 32790,
    ToolThreshold2 = 32791,
    ToolInsertActive = 32792,

    // The bench tools in "Связь"
    FastPolling = 33001,
    BusOverview = 33002,
    TrafficMonitor = 33003,
    OpenFoundRest = 33004,
    // Records beside the record files: the trend of the active window, the CSV log, the bench.
    Trend = 33100,
    CsvLog = 33101,
    SaveBench = 33102,
    OpenBench = 33103,
    RecordAll = 33104,
    // The operator named in the audit trail.
    OperatorName = 33110,
};

constexpr int kMaxPorts = 50;
constexpr int kGasCount = 8;
constexpr CommandId kGasMenuIds[kGasCount] = {CommandId::GasMethane,      CommandId::GasPropane,
                                              CommandId::GasHexane,       CommandId::GasButane,
                                              CommandId::GasIsobutane,    CommandId::GasPentane,
                                              CommandId::GasCyclopentane, CommandId::GasPropylene};

// Port item `index` of the "Связь" menu and the port combo box.
constexpr CommandId portCommand(int index) { return CommandId(int(CommandId::PortFirst) + index); }
// Baud item `position` (0 for 1200 .. 4 for 19200).
constexpr CommandId baudCommand(int position) {
    return CommandId(int(CommandId::Baud1200) + position);
}
constexpr bool isPortCommand(CommandId id) {
    return int(id) >= int(CommandId::PortFirst) && int(id) <= int(CommandId::PortLast);
}

}  // namespace zta
