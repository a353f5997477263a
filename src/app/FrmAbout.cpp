#include "app/FrmAbout.h"

#include "net/Identity.h"

#include "base/ModZorvin.h"
#include "app/TrayIcon.h"
#include "platform/ScreenPlatform.h"
#include "ui/DialogKeys.h"

#include <QGridLayout>
#include <QImageWriter>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPushButton>

namespace {

QString partLine(const char *part, bool present)
{
    return QString::fromUtf8(part) +
           (present ? QStringLiteral("：利用できます") : QStringLiteral("：利用できません"));
}

bool canWrite(const QByteArray &format)
{
    return QImageWriter::supportedImageFormats().contains(format);
}

} // namespace

FrmAbout::FrmAbout(const ModZorvin &ctx, const Identity &identity, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_ctx(ctx), m_identity(identity), m_version(new QLabel(this)), m_parts(new QLabel(this)),
      m_key(new QLabel(this)),
      m_ok(new QPushButton(QStringLiteral("OK"), this))
{
    setObjectName(QStringLiteral("FrmAbout"));
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    auto *icon = new QLabel(this);
    icon->setPixmap(TrayIcon::normalIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    m_version->setObjectName(QStringLiteral("LblVersion"));
    m_version->setText(QStringLiteral("%1  Version %2.%3")
                           .arg(QString::fromUtf8(kProductName))
                           .arg(kVersionMajor)
                           .arg(kVersionMinor));
    QFont big = m_version->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    m_version->setFont(big);
    m_parts->setObjectName(QStringLiteral("LblParts"));
    m_key->setObjectName(QStringLiteral("LblKey"));
    m_key->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_ok->setObjectName(QStringLiteral("CmdOK"));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QWidget::close);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(18, 18, 18, 14);
    grid->setHorizontalSpacing(16);
    grid->addWidget(icon, 0, 0, 3, 1);
    grid->addWidget(m_version, 0, 1);
    grid->addWidget(m_key, 1, 1);
    grid->addWidget(m_parts, 2, 1);
    grid->addWidget(m_ok, 3, 0, 1, 2, Qt::AlignRight);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

QString FrmAbout::text() const
{
    return m_version->text() + QLatin1Char('\n') + m_key->text() + QLatin1Char('\n') + m_parts->text();
}

void FrmAbout::showEvent(QShowEvent *event)
{
    // The archiver is checked during start-up; the box says what holds when it opens.
    m_parts->setText(QStringList{
        partLine("LZH 圧縮 (ｱｰｶｲﾊﾞ)", m_ctx.ArchiverReady), partLine("JPEG 形式の保存", canWrite("jpeg")),
        partLine("PNG 形式の保存", canWrite("png")),
        QStringLiteral("画面の取り込み：") +
            ScreenPlatform::backendTitle(ScreenPlatform::backendInUse(m_ctx.PlatformBackend))}
                         .join(QLatin1Char('\n')));
    m_key->setText(m_identity.fingerprintLine());
    // The fixed size follows the new lines now, before the window is mapped, not in a
    // resize after it.
    layout()->activate();
    QWidget::showEvent(event);
}

void FrmAbout::keyPressEvent(QKeyEvent *event)
{
    const auto close = [this] { this->close(); };
    if (!DialogKey(event, nullptr, close, close))
        QWidget::keyPressEvent(event);
}
