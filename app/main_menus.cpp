// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_menus.h"

#include <QComboBox>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

#include "app/cal_data_file.h"
#include "link/regmap.h"
#include "ui/command_ids.h"
#include "ui/command_router.h"
#include "ui/station_texts.h"
#include "ui/toolbar_icons.h"

namespace zta {

QMenu* buildMenuBar(QMenuBar* bar, CommandRouter& router) {
    auto item = [&router](QMenu* menu, const QString& text, CommandId id, bool checkable = false) {
        QAction* a = menu->addAction(text);
        a->setCheckable(checkable);
        a->setStatusTip(commandPrompt(id));
        router.bind(a, id);
        return a;
    };
    QMenu* doc = bar->addMenu(QStringLiteral("Документ"));
    item(doc, QStringLiteral("Новый прибор"), CommandId::NewDocument);
    doc->addSeparator();
    item(doc, QStringLiteral("Путь для записи"), CommandId::RecordFolder);
    item(doc, QStringLiteral("Запись"), CommandId::Record);
    item(doc, QStringLiteral("Записать все"), CommandId::RecordAll);
    item(doc, QStringLiteral("CSV-журнал"), CommandId::CsvLog, true);
    item(doc, QStringLiteral("Тренд"), CommandId::Trend, true);
    QMenu* timer = doc->addMenu(QStringLiteral("Таймер для записи"));
    item(timer, QStringLiteral("Установить для активного документа"), CommandId::TimerActive);
    item(timer, QStringLiteral("Установить для всех документов"), CommandId::TimerAll);
    QMenu* timerOff = doc->addMenu(QStringLiteral("Отключить таймер"));
    item(timerOff, QStringLiteral("Активного документа"), CommandId::TimerOffActive);
    item(timerOff, QStringLiteral("Всех документов"), CommandId::TimerOffAll);
    item(doc, QStringLiteral("Оператор…"), CommandId::OperatorName);
    doc->addSeparator();
    item(doc, QStringLiteral("Открыть стенд"), CommandId::OpenBench);
    item(doc, QStringLiteral("Сохранить стенд"), CommandId::SaveBench);
    doc->addSeparator();
    item(doc, QStringLiteral("Выход"), CommandId::Exit);

    QMenu* link = bar->addMenu(QStringLiteral("Связь"));
    item(link, QStringLiteral("Поиск"), CommandId::Search);
    item(link, QStringLiteral("Остановить"), CommandId::StopSearch);
    link->addSeparator();
    item(link, QStringLiteral("Подключить"), CommandId::Connect);
    item(link, QStringLiteral("Отключить"), CommandId::Disconnect);
    link->addSeparator();
    QMenu* portMenu = link->addMenu(QStringLiteral("Порт"));
    item(portMenu, QStringLiteral("Com"), CommandId::PortPlaceholder);
    QMenu* speed = link->addMenu(QStringLiteral("Скорость"));
    for (int i = 0; i < 5; ++i) item(speed, QString::number(kBaudRates[i]), baudCommand(i), true);

    QMenu* setup = bar->addMenu(QStringLiteral("Установки"));
    item(setup, QStringLiteral("Изменить сетевой номер"), CommandId::ChangeNumber);
    item(setup, QStringLiteral("Изменить скорость"), CommandId::ChangeSpeed);
    QMenu* thresholds = setup->addMenu(QStringLiteral("Изменить значения порогов"));
    item(thresholds, QStringLiteral("Порог 1"), CommandId::Threshold1);
    item(thresholds, QStringLiteral("Порог 2"), CommandId::Threshold2);
    setup->addSeparator();
    QMenu* insert = setup->addMenu(QStringLiteral("Вставить строку"));
    item(insert, QStringLiteral("В активный документ"), CommandId::InsertActive);
    item(insert, QStringLiteral("Во все документы"), CommandId::InsertAll);
    setup->addSeparator();
    QMenu* gas = setup->addMenu(QStringLiteral("Параметры газа"));
    QMenu* gasKind = gas->addMenu(QStringLiteral("Вид газа"));
    for (int i = 0; i < kGasCount; ++i)
        item(gasKind, QString::fromUtf8(zta::kCalGasMenu[i].name), kGasMenuIds[i], true);
    item(gas, QStringLiteral("Концентрация"), CommandId::Concentration);
    item(gas, QStringLiteral("Параметры подключенных приборов"), CommandId::ConnectedDevicesGas);
    item(setup, QStringLiteral("Установка нуля"), CommandId::SetZero);
    item(setup, QStringLiteral("Газ высокой концентрации "), CommandId::HighGas);
    item(setup, QStringLiteral("Газ средней концентрации"), CommandId::MiddleGas);
    item(setup, QStringLiteral("Установка типовой  концентрации"), CommandId::TypicalConcentration);

    QMenu* info = bar->addMenu(QStringLiteral("Информация о ПО"));
    item(info, QStringLiteral("Прибора в активном окне"), CommandId::SoftwareInfoActive);
    item(info, QStringLiteral("Во всех окнах"), CommandId::SoftwareInfoAll, true);

    QMenu* view = bar->addMenu(QStringLiteral("Вид"));
    item(view, QStringLiteral("Панель инструментов"), CommandId::ViewToolBar, true);
    item(view, QStringLiteral("Строка состояния"), CommandId::ViewStatusBar, true);

    QMenu* window = bar->addMenu(QStringLiteral("Окно"));
    item(window, QStringLiteral("Каскадом"), CommandId::WindowCascade);
    item(window, QStringLiteral("Все на экран"), CommandId::WindowTile);

    QMenu* help = bar->addMenu(QStringLiteral("Помощь"));
    item(help, QStringLiteral("О программе"), CommandId::About);

    for (QAction* a : bar->actions())
        if (a->menu()) router.watchMenu(a->menu());
    return portMenu;
}

QToolBar* buildToolBar(QMainWindow* window, CommandRouter& router) {
    auto* toolBar = new QToolBar(QStringLiteral("Панель инструментов"), window);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setIconSize(QSize(16, 16));
    window->addToolBar(Qt::TopToolBarArea, toolBar);
    auto button = [&](CommandId id) {
        QAction* a = toolBar->addAction(toolIcon(id), commandToolTip(id));
        a->setToolTip(commandToolTip(id));
        a->setStatusTip(commandPrompt(id));
        router.bind(a, id);
    };
    for (CommandId id : {CommandId::ToolNewDocument, CommandId::ToolRecordFolder,
                         CommandId::ToolRecord, CommandId::ToolSetTimer, CommandId::ToolStopTimer})
        button(id);
    toolBar->addSeparator();
    for (CommandId id : {CommandId::ToolConnect, CommandId::ToolDisconnect, CommandId::ToolSearch,
                         CommandId::ToolStopSearch})
        button(id);
    toolBar->addSeparator();
    for (CommandId id :
         {CommandId::ToolSetZero, CommandId::ToolHighGas, CommandId::ToolMiddleGas,
          CommandId::ToolTypicalConcentration, CommandId::ToolThreshold1, CommandId::ToolThreshold2,
          CommandId::ToolInsertActive, CommandId::SoftwareInfoActive, CommandId::SoftwareInfoAll})
        button(id);
    toolBar->addSeparator();
    for (CommandId id : {CommandId::ToolChangeNumber, CommandId::ToolChangeSpeed}) button(id);
    return toolBar;  // the port and rate boxes follow, then "about"
}

LineBoxes addLineBoxes(QToolBar* toolBar, CommandRouter& router) {
    auto* port = new QComboBox;
    port->setObjectName(QStringLiteral("portCombo"));
    port->setMinimumWidth(80);
    port->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    port->setMaxVisibleItems(6);
    // A line over the network is typed: tcp://HOST:PORT, rfc2217://HOST:PORT, mbtcp://HOST.
    port->setEditable(true);
    port->setInsertPolicy(QComboBox::NoInsert);
    port->setMinimumContentsLength(12);
    port->setToolTip(
        QStringLiteral("Порт: из списка, или tcp://узел:порт, rfc2217://узел:порт, "
                       "mbtcp://узел[:порт]"));
    toolBar->addWidget(port);
    router.bindWidget(port, CommandId::PortCombo);

    auto* baud = new QComboBox;
    baud->setObjectName(QStringLiteral("baudCombo"));
    baud->setMinimumWidth(70);
    baud->setMaxVisibleItems(6);
    toolBar->addWidget(baud);
    router.bindWidget(baud, CommandId::BaudCombo);
    for (unsigned rate : kBaudRates) baud->addItem(QString::number(rate));
    baud->setCurrentIndex(3);

    QAction* about =
        toolBar->addAction(toolIcon(CommandId::ToolAbout), commandToolTip(CommandId::ToolAbout));
    about->setStatusTip(commandPrompt(CommandId::ToolAbout));
    router.bind(about, CommandId::ToolAbout);
    return {port, baud};
}

}  // namespace zta
