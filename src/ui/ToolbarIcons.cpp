#include "ui/ToolbarIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <QHash>

#include <cmath>
#include <functional>
#include <numbers>

namespace ToolbarIcons {

namespace {

// Every symbol is drawn on a 24 by 24 grid.
constexpr int kGrid = 24;

const QColor kInk(0x30, 0x36, 0x40);
const QColor kScreen(0x3f, 0x8c, 0xd8);
const QColor kScreenDark(0x24, 0x5f, 0xa8);
const QColor kPaper(0xfc, 0xfc, 0xfa);
const QColor kFolder(0xf0, 0xbe, 0x48);
const QColor kFolderDark(0xc8, 0x8e, 0x20);
const QColor kGreen(0x2f, 0xa0, 0x4a);
const QColor kRed(0xd8, 0x3a, 0x32);
const QColor kGrey(0x9a, 0xa2, 0xac);
const QColor kSteel(0x4f, 0x7d, 0xb5);
const QColor kManila(0xf7, 0xd9, 0x7c);
const QColor kWallScreen(0x3d, 0x5f, 0x96);

using Drawer = std::function<void(QPainter &)>;

QPen inkPen(qreal width = 1.2, const QColor &color = kInk)
{
    QPen pen(color, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

QPixmap render(const Drawer &draw, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(qreal(size) / kGrid, qreal(size) / kGrid);
    draw(p);
    return pixmap;
}

// The sizes of the toolbar (24), the menus (16) and both at twice the pixel density.
constexpr int kSizes[] = {16, 24, 32, 48};

QIcon iconFrom(const Drawer &draw)
{
    QIcon icon;
    for (int size : kSizes)
        icon.addPixmap(render(draw, size));
    return icon;
}

// The disabled look: grey, lighter and mostly transparent, so that it never passes for
// an enabled button of a grey or white symbol (a theme's icons often are).
QPixmap disabledFrom(const QPixmap &normal)
{
    QImage image = normal.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 96 + qGray(line[x]) / 2;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) * kDisabledOpacityPercent / 100);
        }
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(normal.devicePixelRatio());
    return pixmap;
}

// Each size of `normal` with its disabled look made from it.
QIcon withDisabledLook(const std::function<QPixmap(int)> &normal)
{
    QIcon icon;
    for (int size : kSizes) {
        const QPixmap pixmap = normal(size);
        if (pixmap.isNull())
            continue;
        icon.addPixmap(pixmap, QIcon::Normal);
        icon.addPixmap(disabledFrom(pixmap), QIcon::Disabled);
    }
    return icon;
}

// The desktop's icon names for the commands that have a standard one, most fitting first.
QStringList themeNamesFor(const QString &key)
{
    static const QHash<QString, QStringList> names = {
        {QStringLiteral("FileOpen"), {QStringLiteral("document-open")}},
        {QStringLiteral("FileSave"), {QStringLiteral("document-save")}},
        {QStringLiteral("Print"), {QStringLiteral("document-print")}},
        {QStringLiteral("ClipCut"), {QStringLiteral("edit-cut")}},
        {QStringLiteral("ClipCopy"), {QStringLiteral("edit-copy")}},
        {QStringLiteral("ClipPest"), {QStringLiteral("edit-paste")}},
        {QStringLiteral("MessTran"), {QStringLiteral("mail-send")}},
        {QStringLiteral("AddrBook"),
         {QStringLiteral("x-office-address-book"), QStringLiteral("address-book-new")}},
        {QStringLiteral("Config"), {QStringLiteral("preferences-system"), QStringLiteral("configure")}},
        {QStringLiteral("Help"), {QStringLiteral("help-contents")}},
    };
    return names.value(key);
}

void monitor(QPainter &p, const QColor &screen = kScreen)
{
    p.setPen(inkPen());
    p.setBrush(QColor(0x4a, 0x50, 0x5a));
    p.drawRoundedRect(QRectF(2, 3, 20, 14), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(screen);
    p.drawRect(QRectF(3.5, 4.5, 17, 11));
    p.setBrush(kGrey);
    p.drawRect(QRectF(10, 17, 4, 3));
    p.setPen(inkPen());
    p.drawLine(QPointF(7, 20.5), QPointF(17, 20.5));
}

void dashedFrame(QPainter &p, const QRectF &r)
{
    QPen pen(kRed, 1.3, Qt::DashLine);
    pen.setDashPattern({2.0, 1.5});
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
}

void window(QPainter &p, const QRectF &r, const QColor &title)
{
    p.setPen(inkPen());
    p.setBrush(kPaper);
    p.drawRect(r);
    p.setPen(Qt::NoPen);
    p.setBrush(title);
    p.drawRect(QRectF(r.left() + 0.6, r.top() + 0.6, r.width() - 1.2, 3.4));
}

void page(QPainter &p, const QRectF &r, const QColor &fill = kPaper)
{
    QPainterPath path;
    path.moveTo(r.topLeft());
    path.lineTo(r.right() - 4, r.top());
    path.lineTo(r.right(), r.top() + 4);
    path.lineTo(r.bottomRight());
    path.lineTo(r.bottomLeft());
    path.closeSubpath();
    p.setPen(inkPen());
    p.setBrush(fill);
    p.drawPath(path);
    p.drawLine(QPointF(r.right() - 4, r.top()), QPointF(r.right() - 4, r.top() + 4));
    p.drawLine(QPointF(r.right() - 4, r.top() + 4), QPointF(r.right(), r.top() + 4));
}

void arrowRight(QPainter &p, const QPointF &tip)
{
    QPainterPath path;
    path.moveTo(tip);
    path.lineTo(tip.x() - 5, tip.y() - 4.5);
    path.lineTo(tip.x() - 5, tip.y() - 2);
    path.lineTo(tip.x() - 10, tip.y() - 2);
    path.lineTo(tip.x() - 10, tip.y() + 2);
    path.lineTo(tip.x() - 5, tip.y() + 2);
    path.lineTo(tip.x() - 5, tip.y() + 4.5);
    path.closeSubpath();
    p.setPen(inkPen(0.9, kGreen.darker(150)));
    p.setBrush(kGreen);
    p.drawPath(path);
}

void landscape(QPainter &p, const QRectF &r)
{
    p.setPen(inkPen());
    p.setBrush(QColor(0xcf, 0xe8, 0xfb));
    p.drawRect(r);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf6, 0xc3, 0x2c));
    p.drawEllipse(QPointF(r.left() + r.width() * 0.72, r.top() + r.height() * 0.3), 1.8, 1.8);
    QPainterPath hill;
    hill.moveTo(r.left() + 0.6, r.bottom() - 0.6);
    hill.lineTo(r.left() + r.width() * 0.38, r.top() + r.height() * 0.38);
    hill.lineTo(r.left() + r.width() * 0.62, r.top() + r.height() * 0.7);
    hill.lineTo(r.left() + r.width() * 0.75, r.top() + r.height() * 0.55);
    hill.lineTo(r.right() - 0.6, r.bottom() - 0.6);
    hill.closeSubpath();
    p.setBrush(QColor(0x4c, 0xa6, 0x5a));
    p.drawPath(hill);
}

void drawFileOpen(QPainter &p)
{
    QPainterPath back;
    back.moveTo(2, 6);
    back.lineTo(8, 6);
    back.lineTo(10, 8);
    back.lineTo(19, 8);
    back.lineTo(19, 19);
    back.lineTo(2, 19);
    back.closeSubpath();
    p.setPen(inkPen());
    p.setBrush(kFolderDark);
    p.drawPath(back);
    QPainterPath front;
    front.moveTo(2, 19);
    front.lineTo(6, 11);
    front.lineTo(22.5, 11);
    front.lineTo(19, 19);
    front.closeSubpath();
    p.setBrush(kFolder);
    p.drawPath(front);
}

void drawFileSave(QPainter &p)
{
    p.setPen(inkPen());
    p.setBrush(QColor(0x35, 0x68, 0xb0));
    QPainterPath body;
    body.moveTo(3, 3);
    body.lineTo(18, 3);
    body.lineTo(21, 6);
    body.lineTo(21, 21);
    body.lineTo(3, 21);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(kPaper);
    p.drawRect(QRectF(6, 12, 12, 9));
    p.setBrush(QColor(0xc8, 0xcf, 0xd8));
    p.drawRect(QRectF(7, 3, 9, 6));
    p.setBrush(QColor(0x35, 0x68, 0xb0));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(13, 4, 2, 4));
    p.setPen(inkPen(0.8, kGrey));
    p.drawLine(QPointF(8, 15), QPointF(16, 15));
    p.drawLine(QPointF(8, 17.5), QPointF(16, 17.5));
}

void drawPrint(QPainter &p)
{
    p.setPen(inkPen());
    p.setBrush(kPaper);
    p.drawRect(QRectF(6, 2.5, 12, 7));
    p.setBrush(kSteel);
    p.drawRoundedRect(QRectF(2.5, 9, 19, 8.5), 1.5, 1.5);
    p.setBrush(kPaper);
    p.drawRect(QRectF(6, 14, 12, 7.5));
    p.setPen(inkPen(0.8, kGrey));
    p.drawLine(QPointF(8, 17), QPointF(16, 17));
    p.drawLine(QPointF(8, 19.3), QPointF(14, 19.3));
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(18.8, 11.5), 0.9, 0.9);
}

void drawCaptDeskTop(QPainter &p)
{
    monitor(p);
    dashedFrame(p, QRectF(3.5, 4.5, 17, 11));
}

void drawCaptDeskTop1(QPainter &p)
{
    monitor(p);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2a, 0x2e, 0x36));
    p.drawRect(QRectF(3.5, 13, 17, 2.5));
    dashedFrame(p, QRectF(3.5, 4.5, 17, 8.5));
}

void drawCaptRect(QPainter &p)
{
    monitor(p, kScreenDark);
    p.setPen(Qt::NoPen);
    p.setBrush(kScreen.lighter(130));
    p.drawRect(QRectF(7, 7, 9, 6));
    dashedFrame(p, QRectF(7, 7, 9, 6));
    p.setPen(inkPen(1.0, Qt::white));
    p.drawLine(QPointF(16, 11), QPointF(16, 15));
    p.drawLine(QPointF(14, 13), QPointF(18, 13));
}

void drawCaptAct(QPainter &p)
{
    window(p, QRectF(4, 5, 16, 14), kScreen);
    dashedFrame(p, QRectF(2.5, 3.5, 19, 17));
}

void drawCaptAct1(QPainter &p)
{
    window(p, QRectF(3, 3, 18, 17), kScreenDark);
    dashedFrame(p, QRectF(5, 9, 14, 9));
}

void drawCaptClear(QPainter &p)
{
    p.save();
    p.translate(12, 12);
    p.rotate(-40);
    p.setPen(inkPen());
    p.setBrush(QColor(0xf2, 0x8c, 0x9a));
    p.drawRoundedRect(QRectF(-8, -4, 9, 8), 1.2, 1.2);
    p.setBrush(kPaper);
    p.drawRoundedRect(QRectF(1, -4, 7, 8), 1.2, 1.2);
    p.restore();
    p.setPen(inkPen(1.0, kGrey));
    p.drawLine(QPointF(4, 21), QPointF(20, 21));
}

void drawPicTran(QPainter &p)
{
    landscape(p, QRectF(2, 3, 15, 12));
    arrowRight(p, QPointF(22.5, 17.5));
}

void drawMessTran(QPainter &p)
{
    p.setPen(inkPen());
    p.setBrush(kManila);
    p.drawRect(QRectF(2.5, 5.5, 19, 13));
    p.setBrush(kFolder);
    QPainterPath flap;
    flap.moveTo(2.5, 5.5);
    flap.lineTo(12, 13);
    flap.lineTo(21.5, 5.5);
    p.drawPath(flap);
}

void drawFileTran(QPainter &p)
{
    page(p, QRectF(3, 2.5, 12, 16));
    p.setPen(inkPen(0.8, kScreen));
    for (qreal y : {9.0, 11.5, 14.0})
        p.drawLine(QPointF(5.5, y), QPointF(12.5, y));
    arrowRight(p, QPointF(22.5, 17.5));
}

void drawClipCut(QPainter &p)
{
    p.setPen(inkPen(1.6, QColor(0x6c, 0x74, 0x80)));
    p.drawLine(QPointF(8, 3), QPointF(15, 15));
    p.drawLine(QPointF(16, 3), QPointF(9, 15));
    p.setPen(inkPen(1.6, kRed));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(7.5, 18), 3, 3);
    p.drawEllipse(QPointF(16.5, 18), 3, 3);
}

void drawClipCopy(QPainter &p)
{
    page(p, QRectF(3, 2.5, 11, 14), QColor(0x8f, 0xbb, 0xea));
    page(p, QRectF(10, 7.5, 11, 14));
    p.setPen(inkPen(0.8, kScreen));
    for (qreal y : {13.5, 16.0, 18.5})
        p.drawLine(QPointF(12.5, y), QPointF(18.5, y));
}

void drawClipPest(QPainter &p)
{
    p.setPen(inkPen());
    p.setBrush(QColor(0xb5, 0x82, 0x4a));
    p.drawRoundedRect(QRectF(3, 4, 15, 18), 1.5, 1.5);
    p.setBrush(kGrey);
    p.drawRoundedRect(QRectF(7, 2.5, 7, 3.5), 1, 1);
    page(p, QRectF(10, 9, 11, 13));
}

void drawWallCenter(QPainter &p)
{
    monitor(p, kWallScreen);
    landscape(p, QRectF(8, 7, 8, 6));
}

void drawWallTile(QPainter &p)
{
    monitor(p, kWallScreen);
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 3; ++col)
            landscape(p, QRectF(4.2 + col * 5.4, 5.2 + row * 5.1, 5.2, 4.8));
    }
}

void drawAddrBook(QPainter &p)
{
    p.setPen(inkPen());
    p.setBrush(QColor(0x3c, 0x8a, 0x6e));
    p.drawRoundedRect(QRectF(4, 2.5, 15, 19), 1.5, 1.5);
    p.setBrush(kPaper);
    p.drawRect(QRectF(17, 4, 3, 16));
    p.setPen(Qt::NoPen);
    p.setBrush(kPaper);
    p.drawEllipse(QPointF(11.5, 9.5), 2.6, 2.6);
    QPainterPath shoulders;
    shoulders.moveTo(6.5, 17.5);
    shoulders.cubicTo(7, 12.5, 16, 12.5, 16.5, 17.5);
    shoulders.closeSubpath();
    p.drawPath(shoulders);
    p.setBrush(kRed);
    for (qreal y : {6.0, 10.5, 15.0})
        p.drawRect(QRectF(20, y, 2, 2.5));
}

void drawPaint(QPainter &p)
{
    p.save();
    p.translate(12, 12);
    p.rotate(45);
    p.setPen(inkPen());
    p.setBrush(QColor(0xc9, 0x8a, 0x4e));
    p.drawRoundedRect(QRectF(-1.5, -11, 3, 11), 1.2, 1.2);
    p.setBrush(kGrey);
    p.drawRect(QRectF(-2, 0, 4, 3));
    QPainterPath tip;
    tip.moveTo(-2, 3);
    tip.cubicTo(-2.5, 7, 0, 9, 0, 10.5);
    tip.cubicTo(0, 9, 2.5, 7, 2, 3);
    tip.closeSubpath();
    p.setBrush(kRed);
    p.drawPath(tip);
    p.restore();
    p.setPen(Qt::NoPen);
    p.setBrush(kScreen);
    p.drawEllipse(QPointF(5, 19.5), 2.5, 1.5);
}

void drawConfig(QPainter &p)
{
    QPainterPath gear;
    const QPointF c(12, 12);
    constexpr int kTeeth = 8;
    for (int i = 0; i < kTeeth * 2; ++i) {
        const qreal radius = (i % 2 == 0) ? 10.0 : 7.6;
        for (qreal offset : {-0.16, 0.16}) {
            const qreal angle = (i * std::numbers::pi / kTeeth) + offset;
            const QPointF point(c.x() + radius * std::cos(angle), c.y() + radius * std::sin(angle));
            if (gear.elementCount() == 0)
                gear.moveTo(point);
            else
                gear.lineTo(point);
        }
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, 3.2, 3.2);
    p.setPen(inkPen());
    p.setBrush(kSteel);
    p.drawPath(gear.subtracted(hole));
}

void drawHelp(QPainter &p)
{
    p.setPen(inkPen(1.0, kScreenDark.darker(120)));
    p.setBrush(kScreen);
    p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
    QFont font;
    font.setPixelSize(14);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(2, 2, 20, 20), Qt::AlignCenter, QStringLiteral("?"));
}

Drawer drawerFor(const QString &key)
{
    static const QHash<QString, Drawer> drawers = {
        {QStringLiteral("FileOpen"), drawFileOpen},
        {QStringLiteral("FileSave"), drawFileSave},
        {QStringLiteral("Print"), drawPrint},
        {QStringLiteral("CaptDeskTop"), drawCaptDeskTop},
        {QStringLiteral("CaptDeskTop1"), drawCaptDeskTop1},
        {QStringLiteral("CaptRect"), drawCaptRect},
        {QStringLiteral("CaptAct"), drawCaptAct},
        {QStringLiteral("CaptAct1"), drawCaptAct1},
        {QStringLiteral("CaptClear"), drawCaptClear},
        {QStringLiteral("PicTran"), drawPicTran},
        {QStringLiteral("MessTran"), drawMessTran},
        {QStringLiteral("FileTran"), drawFileTran},
        {QStringLiteral("ClipCut"), drawClipCut},
        {QStringLiteral("ClipCopy"), drawClipCopy},
        {QStringLiteral("ClipPest"), drawClipPest},
        {QStringLiteral("WallCenter"), drawWallCenter},
        {QStringLiteral("WallTile"), drawWallTile},
        {QStringLiteral("AddrBook"), drawAddrBook},
        {QStringLiteral("Paint"), drawPaint},
        {QStringLiteral("Config"), drawConfig},
        {QStringLiteral("Help"), drawHelp},
    };
    return drawers.value(key);
}

} // namespace

QIcon forKey(const QString &key)
{
    const Drawer draw = drawerFor(key);
    if (!draw)
        return {};
    for (const QString &name : themeNamesFor(key)) {
        if (QIcon::hasThemeIcon(name)) {
            const QIcon themed = QIcon::fromTheme(name);
            return withDisabledLook([&themed](int size) { return themed.pixmap(QSize(size, size), 1.0); });
        }
    }
    return withDisabledLook([&draw](int size) { return render(draw, size); });
}

QIcon programIcon()
{
    return iconFrom(drawCaptDeskTop);
}

} // namespace ToolbarIcons
