// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/command_table.h"

namespace zta {

namespace {

constexpr CommandUiRow kRows[] = {
    {Command::NewAddress, "Изменить сетевой номер", std::nullopt, AuditUnits::NumberAndRate,
     CommandId::ChangeNumber, CommandId::ToolChangeNumber, true},
    {Command::NewBaud, "Изменить скорость", std::nullopt, AuditUnits::NumberAndRate,
     CommandId::ChangeSpeed, CommandId::ToolChangeSpeed, false},
    {Command::Zero, "Установка нуля", TrendMarkKind::Zero, AuditUnits::None, CommandId::SetZero,
     CommandId::ToolSetZero, false},
    {Command::MidGas, "Газ средней концентрации", TrendMarkKind::MiddleGas, AuditUnits::GasPercent,
     CommandId::MiddleGas, CommandId::ToolMiddleGas, false},
    {Command::MaxGas, "Газ высокой концентрации", TrendMarkKind::HighGas, AuditUnits::GasPercent,
     CommandId::HighGas, CommandId::ToolHighGas, false},
    {Command::Typical, "Установка типовой концентрации", TrendMarkKind::Typical, AuditUnits::None,
     CommandId::TypicalConcentration, CommandId::ToolTypicalConcentration, false},
    {Command::Threshold1, "Порог 1", TrendMarkKind::Threshold1, AuditUnits::ThresholdLel,
     CommandId::Threshold1, CommandId::ToolThreshold1, false},
    {Command::Threshold2, "Порог 2", TrendMarkKind::Threshold2, AuditUnits::ThresholdLel,
     CommandId::Threshold2, CommandId::ToolThreshold2, false},
    {Command::FactoryNumber, "Заводской номер", std::nullopt, AuditUnits::Plain, CommandId::None,
     CommandId::None, false},
};

}  // namespace

std::span<const CommandUiRow> commandUiTable() { return kRows; }

const CommandUiRow& commandUi(Command command) {
    for (const CommandUiRow& row : kRows)
        if (row.command == command) return row;
    return kRows[0];
}

const CommandUiRow* commandUiOf(CommandId id) {
    if (id == CommandId::None) return nullptr;
    for (const CommandUiRow& row : kRows)
        if (row.menuId == id || row.toolId == id) return &row;
    return nullptr;
}

}  // namespace zta
