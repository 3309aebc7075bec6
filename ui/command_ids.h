#pragma once

namespace zta {

// Numeric command ids of menus and tool-bar buttons. They keep the station's historic values
// because status prompts, enabling rules and the tool-bar layout are keyed by them.
enum CommandId : int {
    // "Связь"
    CmdConnect = 130,
    CmdDisconnect = 131,
    CmdBaud1200 = 138,
    CmdBaud2400 = 139,
    CmdBaud4800 = 140,
    CmdBaud9600 = 141,
    CmdBaud19200 = 142,
    CmdSearch = 151,
    CmdStopSearch = 152,
    CmdPortPlaceholder = 32811,  // "Com", replaced by the port items at the first sizing
    CmdPortFirst = 1025,         // port item i has id CmdPortFirst + i
    CmdPortLast = 1074,

    // "Документ"
    CmdNewDocument = 148,
    CmdRecordFolder = 149,
    CmdRecord = 170,
    CmdTimerActive = 180,
    CmdTimerAll = 181,
    CmdTimerOffActive = 182,
    CmdTimerOffAll = 183,
    CmdExit = 195,

    // "Установки"
    CmdChangeNumber = 153,
    CmdChangeSpeed = 154,
    CmdSetZero = 158,
    CmdHighGas = 159,
    CmdMiddleGas = 160,
    CmdTypicalConcentration = 184,
    CmdThreshold1 = 191,
    CmdThreshold2 = 192,
    CmdInsertActive = 178,
    CmdInsertAll = 179,
    CmdConcentration = 144,
    CmdConnectedDevicesGas = 32813,

    // "Вид газа", in gas table order
    CmdGasMethane = 145,
    CmdGasPropane = 146,
    CmdGasHexane = 150,
    CmdGasButane = 32794,
    CmdGasIsobutane = 32796,
    CmdGasPentane = 32807,
    CmdGasCyclopentane = 32808,
    CmdGasPropylene = 32809,

    // "Информация о ПО"
    CmdSoftwareInfoActive = 32803,
    CmdSoftwareInfoAll = 32804,

    // "Вид", "Окно", "Помощь"
    CmdViewToolBar = 172,
    CmdViewStatusBar = 173,
    CmdWindowCascade = 57650,
    CmdWindowTile = 57651,
    CmdAbout = 169,

    // Tool-bar buttons (several do the same as a menu item)
    CmdToolNewDocument = 32771,
    CmdToolRecordFolder = 32772,
    CmdToolSetTimer = 32773,
    CmdToolConnect = 32774,
    CmdToolDisconnect = 32775,
    CmdToolSearch = 32776,
    CmdToolStopSearch = 32777,
    CmdToolSetZero = 32778,
    CmdToolHighGas = 32779,
    CmdToolMiddleGas = 32780,
    CmdToolChangeNumber = 32781,
    CmdBaudCombo = 32782,
    CmdPortCombo = 32783,
    CmdToolChangeSpeed = 32784,
    CmdToolStopTimer = 32785,
    CmdToolRecord = 32787,
    CmdToolAbout = 32788,
    CmdToolTypicalConcentration = 32789,
    CmdToolThreshold1 = 32790,
    CmdToolThreshold2 = 32791,
    CmdToolInsertActive = 32792,
};

constexpr int kMaxPorts = 50;
constexpr int kGasCount = 8;
constexpr int kGasMenuIds[kGasCount] = {CmdGasMethane,   CmdGasPropane,      CmdGasHexane,
                                        CmdGasButane,    CmdGasIsobutane,    CmdGasPentane,
                                        CmdGasCyclopentane, CmdGasPropylene};

// Notices from the main window or a worker to an analyzer view (first parameter of the old
// window message; the second one travels as `value`).
enum ViewNotice : int {
    NoticeDataChanged = 100,
    NoticeDisconnected = 200,
    NoticeInsertText = 300,
    NoticeStartTimer = 400,
    NoticeStopTimer = 500,
    NoticeSoftwareInfoToggled = 600,
    NoticeShowSoftwareInfo = 700,
    // Values 1, 2, 4, 8 and 16 are baud codes: the analyzer `value` accepted that rate.
};

}  // namespace zta
