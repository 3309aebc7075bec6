// SPDX-License-Identifier: GPL-3.0-or-later
#include "gas/gas_check.h"

#include <array>
#include <cctype>
#include <string>

namespace zta {

namespace {

// Formulas as an analyzer's text block may give them, by gas code.
constexpr std::array<const char*, kGasCodeCount> kFormulas{
    "", "CH4", "C3H8", "C6H14", "C4H10", "IC4H10", "C5H12", "C5H10", "C3H6"};

std::string normalized(std::string_view text) {
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isspace(u) || c == '-') continue;
        out += u < 0x80 ? static_cast<char>(std::toupper(u)) : c;
    }
    return out;
}

}  // namespace

const GasInfo* reportedGas(bool extendedModel, int gasCode, std::string_view textBlockGas) {
    if (!extendedModel) return gasCode >= 1 ? gasByCode(gasCode) : nullptr;
    const std::string text = normalized(textBlockGas);
    if (text.empty()) return nullptr;
    for (const GasInfo& gas : GasTable) {
        if (gas.code == 0) continue;
        if (text == normalized(gas.name) || text == kFormulas[gas.code]) return &gas;
    }
    return nullptr;
}

std::optional<GasMismatch> checkCalibrationGas(const GasInfo* chosen, bool linkUp,
                                               bool extendedModel, int gasCode,
                                               std::string_view textBlockGas) {
    if (!chosen || !linkUp) return std::nullopt;
    const GasInfo* reported = reportedGas(extendedModel, gasCode, textBlockGas);
    if (!reported || reported->code == chosen->code) return std::nullopt;
    GasMismatch m;
    m.reported = QString::fromUtf8(reported->name);
    const QString written =
        QString::fromUtf8(textBlockGas.data(), static_cast<qsizetype>(textBlockGas.size()))
            .trimmed();
    if (extendedModel && written != m.reported) m.reported += QStringLiteral(" (%1)").arg(written);
    m.chosen = QString::fromUtf8(chosen->name);
    return m;
}

QString gasMismatchText(int networkNumber, const GasMismatch& m) {
    return QStringLiteral(
               "Прибор № %1 измеряет газ «%2», а для калибровки выбран газ «%3».\n"
               "Продолжить?")
        .arg(networkNumber)
        .arg(m.reported, m.chosen);
}

}  // namespace zta
