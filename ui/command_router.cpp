// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/command_router.h"

#include <QAction>
#include <QMenu>
#include <QTimer>
#include <QWidget>

namespace zta {

CommandRouter::CommandRouter(QObject* parent) : QObject(parent) {
    idle_ = new QTimer(this);
    idle_->setInterval(250);
    connect(idle_, &QTimer::timeout, this, &CommandRouter::refresh);
    idle_->start();
}

void CommandRouter::setIdleInterval(int ms) {
    if (ms <= 0) {
        idle_->stop();
        return;
    }
    idle_->setInterval(ms);
    idle_->start();
}

QAction* CommandRouter::bind(QAction* action, CommandId id) {
    action->setData(int(id));
    actions_.emplace(id, action);
    connect(action, &QAction::triggered, this, [this, id] { dispatch(id); });
    return action;
}

void CommandRouter::bindWidget(QWidget* widget, CommandId id) { widgets_.emplace(id, widget); }

void CommandRouter::watchMenu(QMenu* menu) {
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { refreshMenu(menu); });
}

CommandId CommandRouter::idOf(const QAction* action) {
    bool ok = false;
    const int id = action->data().toInt(&ok);
    return ok ? CommandId(id) : CommandId::None;
}

QAction* CommandRouter::action(CommandId id) const {
    for (auto [it, end] = actions_.equal_range(id); it != end; ++it)
        if (it->second) return it->second;
    return nullptr;
}

std::vector<QAction*> CommandRouter::actions(CommandId id) const {
    std::vector<QAction*> out;
    for (auto [it, end] = actions_.equal_range(id); it != end; ++it)
        if (it->second) out.push_back(it->second);
    return out;
}

bool CommandRouter::dispatch(CommandId id) {
    // A command that is disabled right now (a stale tool button between refreshes) does not
    // run: the enabling rules are the commands' preconditions too.
    const CommandState st = query(id);
    bool handled = false;
    if (st.handled && st.enabled && route_) {
        for (CommandTarget* target : route_()) {
            if (target && target->onCommand(id)) {
                handled = true;
                break;
            }
        }
    }
    emit dispatched(id, handled);
    refresh();
    return handled;
}

CommandState CommandRouter::query(CommandId id) const {
    CommandState st;
    if (route_) {
        for (CommandTarget* target : route_()) {
            CommandState probe;
            if (target && target->onUpdateCommand(id, probe)) {
                probe.handled = true;
                return probe;
            }
        }
    }
    st.enabled = false;
    st.handled = false;
    return st;
}

void CommandRouter::apply(QAction* action, const CommandState& st) const {
    if (action->isEnabled() != st.enabled) action->setEnabled(st.enabled);
    if (action->isCheckable() && action->isChecked() != st.checked) {
        const bool blocked = action->blockSignals(true);
        action->setChecked(st.checked);
        action->blockSignals(blocked);
    }
}

void CommandRouter::refresh() {
    std::map<CommandId, CommandState> cache;
    for (auto& [id, action] : actions_) {
        if (!action) continue;
        auto it = cache.find(id);
        if (it == cache.end()) it = cache.emplace(id, query(id)).first;
        apply(action, it->second);
    }
    for (auto& [id, widget] : widgets_) {
        if (!widget) continue;
        auto it = cache.find(id);
        if (it == cache.end()) it = cache.emplace(id, query(id)).first;
        if (widget->isEnabled() != it->second.enabled) widget->setEnabled(it->second.enabled);
    }
}

void CommandRouter::refreshMenu(QMenu* menu) {
    for (QAction* a : menu->actions()) {
        if (a->menu()) {
            refreshMenu(a->menu());
            continue;
        }
        if (a->isSeparator()) continue;
        const CommandId id = idOf(a);
        if (id != CommandId::None) apply(a, query(id));
    }
}

}  // namespace zta
