#include "capture/CaptureTrayMenu.h"

#include "capture/CaptureMath.h"
#include "capture/FrmMain.h"

#include <QMenu>

CaptureTrayMenu::CaptureTrayMenu(QMenu &menu, QAction *before, std::function<FrmMain *()> captureWindow,
                                 std::function<FrmMain *()> loadedWindow, QObject *parent)
    : QObject(parent), m_captureWindow(std::move(captureWindow)), m_loadedWindow(std::move(loadedWindow)),
      m_capture(new QMenu(QStringLiteral("ｷｬﾌﾟﾁｬ(&C)"), &menu))
{
    m_capture->menuAction()->setObjectName(QStringLiteral("mnuCapture"));
    const QStringList captions = CaptureMath::CaptureModeCaptions();
    for (int mode = 0; mode < captions.size(); ++mode) {
        QAction *item = m_capture->addAction(captions[mode]);
        item->setObjectName(QStringLiteral("mnuCaptureItem%1").arg(mode));
        connect(item, &QAction::triggered, this, [this, mode] {
            if (FrmMain *window = m_captureWindow())
                window->GetCaptureItem(mode);
        });
    }
    m_capture->addSeparator();
    m_clear = m_capture->addAction(QStringLiteral("ｸﾘｱ(&C)"));
    m_clear->setObjectName(QStringLiteral("mnuClear"));
    connect(m_clear, &QAction::triggered, this, [this] {
        if (FrmMain *window = m_loadedWindow())
            window->Clear();
    });

    m_show = new QAction(QStringLiteral("ｷｬﾌﾟﾁｬ画面表示(&S)"), &menu);
    m_show->setObjectName(QStringLiteral("mnuShow"));
    connect(m_show, &QAction::triggered, this, [this] {
        if (FrmMain *window = m_captureWindow()) {
            window->show();
            window->raise();
            window->activateWindow();
        }
    });
    m_hide = new QAction(QStringLiteral("ｷｬﾌﾟﾁｬ画面非表示(&H)"), &menu);
    m_hide->setObjectName(QStringLiteral("mnuHide"));
    connect(m_hide, &QAction::triggered, this, [this] {
        if (FrmMain *window = m_loadedWindow())
            window->hide();
    });

    menu.insertMenu(before, m_capture);
    menu.insertSeparator(before);
    menu.insertAction(before, m_show);
    menu.insertAction(before, m_hide);
    menu.insertSeparator(before);
    connect(&menu, &QMenu::aboutToShow, this, &CaptureTrayMenu::prepare);
    prepare();
}

void CaptureTrayMenu::prepare()
{
    const FrmMain *window = m_loadedWindow();
    const bool visible = window && window->isVisible();
    m_show->setVisible(!visible);
    m_hide->setVisible(visible);
    m_clear->setEnabled(window && window->HasPicture());
}
