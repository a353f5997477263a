// What the benchmarks with their own X server share: a busy full-screen picture, so that
// compressing and packing have real work to do, and a host that prints its questions.
#pragma once

#include "net/EngineHost.h"

#include <QPainter>
#include <QWidget>

#include <cstdio>

class PrintingHost : public EngineHost
{
  public:
    int ShowMessageBox(const QString &text, int) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return MsgBox::IdOk;
    }
};

class BusyScreen : public QWidget
{
  public:
    explicit BusyScreen(const QString &title) : m_title(title) {}

  protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        QLinearGradient g(0, 0, width(), height());
        g.setColorAt(0, QColor(20, 60, 160));
        g.setColorAt(1, QColor(230, 180, 40));
        p.fillRect(rect(), g);
        p.setPen(Qt::white);
        for (int y = 0; y < height(); y += 18)
            p.drawText(4, y + 14,
                       QStringLiteral("ぞるびん %1 line %2 — ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 "
                                      "ｷｬﾌﾟﾁｬ画面 ﾃﾞｽｸﾄｯﾌﾟ全体")
                           .arg(m_title)
                           .arg(y / 18)
                           .repeated(2));
    }

  private:
    QString m_title;
};
