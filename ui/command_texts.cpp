// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/command_texts.h"

namespace zta {

QString commandName(Command command) {
    switch (command) {
        case Command::NewAddress:
            return QStringLiteral("Изменить сетевой номер");
        case Command::NewBaud:
            return QStringLiteral("Изменить скорость");
        case Command::Zero:
            return QStringLiteral("Установка нуля");
        case Command::MidGas:
            return QStringLiteral("Газ средней концентрации");
        case Command::MaxGas:
            return QStringLiteral("Газ высокой концентрации");
        case Command::Typical:
            return QStringLiteral("Установка типовой концентрации");
        case Command::Threshold1:
            return QStringLiteral("Порог 1");
        case Command::Threshold2:
            return QStringLiteral("Порог 2");
        case Command::FactoryNumber:
            return QStringLiteral("Заводской номер");
    }
    return {};
}

QString commandStateText(const CommandTrack& track) {
    switch (track.state) {
        case CommandStatus::None:
            return {};
        case CommandStatus::Pending:
            return QStringLiteral("ожидает");
        case CommandStatus::Sent:
            return QStringLiteral("отправлена");
        case CommandStatus::Confirmed:
            return QStringLiteral("выполнена");
        case CommandStatus::Failed:
            break;
    }
    QString why;
    switch (track.failure) {
        case CommandFailure::NoEcho:
            why = QStringLiteral("нет ответа после %1 попыток").arg(kCommandTries);
            break;
        case CommandFailure::PollingStopped:
            why = QStringLiteral("опрос остановлен");
            break;
        case CommandFailure::LineFailed:
            why = QStringLiteral("порт не открыт");
            break;
        case CommandFailure::Cleared:
            why = QStringLiteral("снята");
            break;
        case CommandFailure::Replaced:
            why = QStringLiteral("заменена новой");
            break;
        case CommandFailure::WindowClosed:
            why = QStringLiteral("окно закрыто");
            break;
        case CommandFailure::Expired:
            why = QStringLiteral("истекло время");
            break;
        case CommandFailure::None:
            break;
    }
    return why.isEmpty() ? QStringLiteral("не выполнена") : QStringLiteral("не выполнена: ") + why;
}

}  // namespace zta
