#include "ui/tray_icon.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace tallowin {

namespace {

constexpr int kIconSize = 64;

QPixmap BaseIcon() {
    const QIcon app = QApplication::windowIcon();
    QPixmap pixmap = app.isNull() ? QPixmap() : app.pixmap(kIconSize, kIconSize);
    if (pixmap.isNull()) {
        // No application icon (a test): a plain printer-blue square.
        pixmap = QPixmap(kIconSize, kIconSize);
        pixmap.fill(QColor(0x2a, 0x6f, 0xb0));
    }
    return pixmap;
}

QPixmap Greyed(const QPixmap& pixmap) {
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = qGray(line[x]);
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) / 2 + qAlpha(line[x]) / 4);
        }
    }
    return QPixmap::fromImage(image);
}

QPixmap WithBadge(QPixmap pixmap) {
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const int d = pixmap.width() / 2;
    const QRect badge(pixmap.width() - d, pixmap.height() - d, d, d);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xd3, 0x2f, 0x2f));
    painter.drawEllipse(badge);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(d * 3 / 4);
    painter.setFont(font);
    painter.drawText(badge, Qt::AlignCenter, QStringLiteral("!"));
    return pixmap;
}

}  // namespace

QIcon TrayIconFor(TrayLook look) {
    switch (look) {
        case TrayLook::Stopped:
            return QIcon(Greyed(BaseIcon()));
        case TrayLook::Running:
            return QIcon(BaseIcon());
        case TrayLook::Attention:
            return QIcon(WithBadge(BaseIcon()));
    }
    return {};
}

QIcon WithAttentionBadge(const QIcon& icon) {
    QPixmap pixmap = icon.pixmap(48, 48);
    if (pixmap.isNull()) return icon;
    return QIcon(WithBadge(pixmap));
}

std::unique_ptr<SystemTraySurface> SystemTraySurface::Make(QObject* parent) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return nullptr;
    return std::unique_ptr<SystemTraySurface>(new SystemTraySurface(parent));
}

SystemTraySurface::SystemTraySurface(QObject* parent)
    : QObject(parent), icon_(std::make_unique<QSystemTrayIcon>()) {
    connect(icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    emit Clicked();
                }
            });
    connect(icon_.get(), &QSystemTrayIcon::messageClicked, this, &SystemTraySurface::Clicked);
}

SystemTraySurface::~SystemTraySurface() = default;

void SystemTraySurface::Show(TrayLook look, const QString& toolTip) {
    icon_->setIcon(TrayIconFor(look));
    icon_->setToolTip(toolTip);
    icon_->show();
}

void SystemTraySurface::Notify(const TrayMessage& message) {
    icon_->showMessage(message.Title, message.Text, QSystemTrayIcon::Warning);
}

void TrayIcon::Refresh(bool started, const std::vector<TrayFolder>& folders) {
    const TrayUpdate update = presenter_.Update(started, folders);
    if (!shown_ || update.Look != look_ || update.ToolTip != toolTip_) {
        surface_.Show(update.Look, update.ToolTip);
        shown_ = true;
        look_ = update.Look;
        toolTip_ = update.ToolTip;
    }
    for (const TrayMessage& message : update.Messages) surface_.Notify(message);
}

}  // namespace tallowin
