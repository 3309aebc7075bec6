// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/station_texts.h"

#include <map>

namespace zta {

namespace {

const std::map<CommandId, const char*>& texts() {
    static const std::map<CommandId, const char*> texts = {
        {CommandId::Connect, "Установить связь приборов  с компьютером."},
        {CommandId::Disconnect, "Прервать связь приборов  с компьютером."},
        {CommandId::Concentration, "Установить новую концентрацию"},
        {CommandId::NewDocument, "Добавить окно для опроса нового прибора "},
        {CommandId::RecordFolder, "Изменить путь для сохранения файлов"},
        {CommandId::Search, "Начать поиск подключенных приборов"},
        {CommandId::StopSearch, "Остановить поиск приборов"},
        {CommandId::ChangeNumber, "Изменить сетевой номер активного прибора"},
        {CommandId::ChangeSpeed, "Изменить скорость передачи данных активного прибора"},
        {CommandId::SetZero, "Калибровка газом нулевой концентрации"},
        {CommandId::HighGas, "Калибровка по газу  высокой концентрации"},
        {CommandId::MiddleGas, "Калибровка по газу средней концентрации"},
        {CommandId::Record, "Однократная запись данных активного прибора"},
        {CommandId::RecordAll, "Однократная запись данных всех приборов в один момент"},
        {CommandId::InsertActive,
         "Вставить текстовую строку в файлы №.zta или №timer.zta в активный документ"},
        {CommandId::InsertAll,
         "Вставить текстовую строку в файлы №.zta или №timer.zta во все открытые документы"},
        {CommandId::TimerActive, "Установить таймер для активного документа"},
        {CommandId::TimerAll, "Установить таймер для всех документа"},
        {CommandId::TimerOffActive, "Отключить таймер активного документа"},
        {CommandId::TimerOffAll, "Отключить все ранее установленные таймеры"},
        {CommandId::TypicalConcentration, "Установить типовую концентрационную зависимость"},
        {CommandId::ToolNewDocument,
         "Добавить окно для опроса нового прибора\nДобавить окно для опроса нового прибора "},
        {CommandId::ToolRecordFolder,
         "Изменить путь для сохранения файлов\nИзменить путь для сохранения файлов"},
        {CommandId::ToolSetTimer, "Установить таймер\nУстановить таймер "},
        {CommandId::ToolConnect,
         "Установить связь приборов с компьютером.\nУстановить связь приборов с компьютером."},
        {CommandId::ToolDisconnect,
         "Прервать связь приборов с компьютером.\nПрервать связь приборов с компьютером."},
        {CommandId::ToolSearch,
         "Начать поиск подключенных приборов\nНачать поиск подключенных приборов"},
        {CommandId::ToolStopSearch, "Остановить поиск приборов\nОстановить поиск приборов"},
        {CommandId::ToolSetZero,
         "Калибровка газом нулевой концентрации\nКалибровка газом нулевой концентрации"},
        {CommandId::ToolHighGas,
         "Калибровка по газу  высокой концентрации\nКалибровка по газу  высокой концентрации"},
        {CommandId::ToolMiddleGas,
         "Калибровка по газу средней концентрации\nКалибровка по газу средней концентрации"},
        {CommandId::ToolChangeNumber, "Изменить номер\nИзменить номер"},
        {CommandId::ToolChangeSpeed, "Изменить скорость\nИзменить номер"},
        {CommandId::ToolStopTimer, "Остановить запись по таймеру\nОстановить запись по таймеру"},
        {CommandId::ToolRecord,
         "Однократная запись данных активного прибора\nОднократная запись данных активного "
         "прибора"},
        {CommandId::ToolAbout, "О программе\nО программе"},
        {CommandId::ToolTypicalConcentration,
         "Установить типовую концентрационную зависимость\nУстановить типовую концентрационную "
         "зависимость"},
        {CommandId::ToolThreshold1, "Установить порог 1\nУстановить порог 1"},
        {CommandId::ToolThreshold2, "Установить порог 2\nУстановить порог 2"},
        {CommandId::ToolInsertActive,
         "Вставить текстовую строку в файлы №.zta или №timer.zta в активный документ\nВставить "
         "текстовую строку в файлы №.zta или №timer.zta в активный документ"},
        {CommandId::SoftwareInfoActive,
         "Вывод информации о программном обеспечении прибора находящегося в активном окне\nВывод "
         "информации о ПО прибора находящегося в активном окне"},
        {CommandId::SoftwareInfoAll,
         "Вывод информации о программном обеспечении приборов находящихся во всех открытых "
         "окнах\nВывод информации о ПО приборов находящихся во всех открытых окнах"},
    };
    return texts;
}

QString part(CommandId id, int index) {
    const auto it = texts().find(id);
    if (it == texts().end()) return {};
    const QString text = QString::fromUtf8(it->second);
    const qsizetype nl = text.indexOf(QLatin1Char('\n'));
    if (index == 0) return nl < 0 ? text : text.left(nl);
    return nl < 0 ? QString() : text.mid(nl + 1);
}

}  // namespace

QString commandPrompt(CommandId id) { return part(id, 0); }

QString commandToolTip(CommandId id) { return part(id, 1); }

QString gatewayRateText(const QString& port) {
    return QStringLiteral(
               "Линия %1 идёт через шлюз Modbus TCP: скорость на ней задаётся в самом шлюзе, "
               "со станции её сменить нельзя.")
        .arg(port);
}

}  // namespace zta
