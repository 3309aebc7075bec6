// SPDX-License-Identifier: GPL-3.0-or-later
#include "poll/command_table.h"

namespace zta {

namespace {

std::uint8_t byteOf(const CommandInputs& in) {
    return static_cast<std::uint8_t>(static_cast<int>(in.value) & 0xFF);
}

constexpr CommandRow kCommands[] = {
    {Command::Threshold1, true, true, CommandEffect::None,
     [](const CommandInputs& in) { return encodeThreshold1(byteOf(in)); }},
    {Command::Threshold2, true, true, CommandEffect::None,
     [](const CommandInputs& in) { return encodeThreshold2(byteOf(in)); }},
    {Command::Typical, false, false, CommandEffect::None,
     [](const CommandInputs&) { return encodeTypical(); }},
    {Command::MaxGas, false, false, CommandEffect::None,
     [](const CommandInputs& in) { return encodeMaxGas(in.hasValue ? in.value : in.maxGas); }},
    {Command::MidGas, false, false, CommandEffect::None,
     [](const CommandInputs& in) { return encodeMidGas(in.hasValue ? in.value : in.midGas); }},
    {Command::Zero, false, false, CommandEffect::None,
     [](const CommandInputs&) { return encodeZero(); }},
    {Command::NewAddress, true, false, CommandEffect::NewNumber,
     [](const CommandInputs& in) { return encodeNewAddress(byteOf(in), in.lineBaud); }},
    {Command::NewBaud, true, false, CommandEffect::NewRate,
     [](const CommandInputs& in) { return encodeNewBaud(in.address, byteOf(in)); }},
    {Command::FactoryNumber, true, true, CommandEffect::None,
     [](const CommandInputs& in) { return encodeFactoryNumber(static_cast<int>(in.value)); }},
};

}  // namespace

std::span<const CommandRow> commandTable() { return kCommands; }

const CommandRow& commandRow(Command command) {
    for (const CommandRow& row : kCommands)
        if (row.command == command) return row;
    return kCommands[0];
}

}  // namespace zta
