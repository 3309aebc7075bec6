// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/command_texts.h"

#include "ui/command_table.h"

namespace zta {

QString commandName(Command command) { return QString::fromUtf8(commandUi(command).name); }

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
