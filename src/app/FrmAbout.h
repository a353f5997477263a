// The about box: the program's version, which of the optional parts this copy has (the LZH
// archiver, the JPEG and PNG writers) and the screen back-end in use. A plain window opened through the registry,
// so that showing it needs no loop of its own.
#pragma once

#include "ui/WindowRegistry.h"

#include <QLatin1String>
#include <QWidget>

class ModZorvin;
class QLabel;
class QPushButton;

class FrmAbout : public QWidget
{
    Q_OBJECT
  public:
    explicit FrmAbout(const ModZorvin &ctx, QWidget *parent = nullptr);

    // Everything the box says, line by line.
    QString text() const;

  protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    const ModZorvin &m_ctx;
    QLabel *m_version;
    QLabel *m_parts;
    QPushButton *m_ok;
};
