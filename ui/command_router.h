// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <vector>

#include "ui/command_ids.h"

class QAction;
class QMenu;
class QTimer;
class QWidget;

namespace zta {

struct CommandState {
    bool enabled = true;
    bool checked = false;
    bool handled = false;  // set by the router when some target claimed the id
};

// One stop on the command route. onUpdateCommand returns true when this target handles `id`
// (it may then clear `enabled` or set `checked`); onCommand returns true when it ran it.
class CommandTarget {
  public:
    virtual ~CommandTarget() = default;
    virtual bool onCommand(CommandId id) {
        (void)id;
        return false;
    }
    virtual bool onUpdateCommand(CommandId id, CommandState& state) {
        (void)id;
        (void)state;
        return false;
    }
};

// Sends a command to the first target on the route (active view, its document, main window,
// application) that handles it, and asks the same route for enabled/checked. A command no one
// handles is disabled.
class CommandRouter : public QObject {
    Q_OBJECT
  public:
    using RouteProvider = std::function<std::vector<CommandTarget*>()>;

    explicit CommandRouter(QObject* parent = nullptr);

    void setRoute(RouteProvider provider) { route_ = std::move(provider); }

    // The action carries `id`; triggering it dispatches, and the idle refresh keeps its
    // enabled and checked state. The action stays owned by its parent.
    QAction* bind(QAction* action, CommandId id);
    // A widget (tool-bar combo box) enabled by the same rules as the command `id`.
    void bindWidget(QWidget* widget, CommandId id);
    // Refreshes the actions of `menu` (and its submenus) each time it is about to show.
    void watchMenu(QMenu* menu);

    static CommandId idOf(const QAction* action);  // CommandId::None for none
    QAction* action(CommandId id) const;           // the first action bound to id, or nullptr
    std::vector<QAction*> actions(CommandId id) const;

    bool dispatch(CommandId id);
    CommandState query(CommandId id) const;
    void refresh();  // every bound action
    void refreshMenu(QMenu* menu);

    // Refresh interval while the event loop is idle; 0 switches the idle refresh off.
    void setIdleInterval(int ms);

  signals:
    void dispatched(CommandId id, bool handled);

  private:
    void apply(QAction* action, const CommandState& st) const;

    RouteProvider route_;
    std::multimap<CommandId, QPointer<QAction>> actions_;
    std::multimap<CommandId, QPointer<QWidget>> widgets_;
    QTimer* idle_ = nullptr;
};

}  // namespace zta
