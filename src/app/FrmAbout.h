// The about box: the program's version, which of the optional parts this copy has (the LZH
// archiver, the JPEG and PNG writers) and the screen back-end in use. A plain window opened through the registry,
// so that showing it needs no loop of its own.
#pragma once

#include "ui/WindowRegistry.h"

#include <QLatin1String>
#include <QWidget>

class Identity;
class ModZorvin;
class QLabel;
class QPushButton;

class FrmAbout : public QWidget
{
    Q_OBJECT
  public:
    FrmAbout(const ModZorvin &ctx, const Identity &identity, QWidget *parent = nullptr);

    // Everything the box says, line by line.
    QString text() const;

  protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    const ModZorvin &m_ctx;
    const Identity &m_identity;
    QLabel *m_version;
    QLabel *m_parts;
    // The key's fingerprint, selectable so that it can be copied into a mail.
    QLabel *m_key;
    QPushButton *m_ok;
};
