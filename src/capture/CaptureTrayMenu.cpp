#include "capture/CaptureTrayMenu.h"

#include "capture/FrmMain.h"
#include "core/Commands.h"

#include <QMenu>

CaptureTrayMenu::CaptureTrayMenu(QMenu &menu, QAction *before, Commands &commands, QObject *parent)
    : QObject(parent), m_commands(commands), m_capture(new QMenu(QStringLiteral("ｷｬﾌﾟﾁｬ(&C)"), &menu))
{
    m_capture->menuAction()->setObjectName(QStringLiteral("mnuCapture"));
    for (int mode = 0; mode < 5; ++mode)
        m_capture->addAction(commands.action(QStringLiteral("mnuCaptureItem%1").arg(mode)));
    m_capture->addSeparator();
    m_capture->addAction(commands.action(QStringLiteral("mnuClear")));

    menu.insertMenu(before, m_capture);
    menu.insertSeparator(before);
    menu.insertAction(before, showAction());
    menu.insertAction(before, hideAction());
    menu.insertSeparator(before);
    connect(&menu, &QMenu::aboutToShow, this, &CaptureTrayMenu::prepare);
    prepare();
}

QAction *CaptureTrayMenu::showAction() const
{
    return m_commands.action(QStringLiteral("mnuShow"));
}

QAction *CaptureTrayMenu::hideAction() const
{
    return m_commands.action(QStringLiteral("mnuHide"));
}

void CaptureTrayMenu::prepare()
{
    m_commands.refresh();
    const FrmMain *window = m_commands.captureWindow();
    const bool visible = window && window->isVisible();
    showAction()->setVisible(!visible);
    hideAction()->setVisible(visible);
}
