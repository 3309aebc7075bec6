// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QComboBox;
class QMainWindow;
class QMenu;
class QMenuBar;
class QToolBar;

namespace zta {

class CommandRouter;

// The main window's menus, every item bound to its command; gives the port menu, which is
// filled once the ports are known.
QMenu* buildMenuBar(QMenuBar* bar, CommandRouter& router);

// The tool bar's command buttons; the port and rate boxes and "about" go after them.
QToolBar* buildToolBar(QMainWindow* window, CommandRouter& router);

struct LineBoxes {
    QComboBox* port;
    QComboBox* baud;
};
// The port and rate boxes, then "about", at the tool bar's end.
LineBoxes addLineBoxes(QToolBar* toolBar, CommandRouter& router);

}  // namespace zta
