// The tray icon of the main window, where the desktop has a tray: its look
// and tooltip say whether the hot folders run, are stopped or need
// attention; a desktop notification tells a file kept or a printer that
// needs attention; a click raises the window. Where there is no tray
// (QSystemTrayIcon::isSystemTrayAvailable() is false) none is made and
// nothing changes.
#pragma once

#include <QIcon>
#include <QObject>
#include <memory>
#include <vector>

#include "ui/tray_state.h"

class QSystemTrayIcon;

namespace tallowin {

// Where the tray's look and messages go: the system tray, or a test's fake.
class TraySurface {
  public:
    virtual ~TraySurface() = default;
    virtual void Show(TrayLook look, const QString& toolTip) = 0;
    virtual void Notify(const TrayMessage& message) = 0;
};

// The desktop's tray. Clicked when the user clicks or double-clicks the icon.
class SystemTraySurface final : public QObject, public TraySurface {
    Q_OBJECT
  public:
    // Null where the desktop has no tray.
    static std::unique_ptr<SystemTraySurface> Make(QObject* parent = nullptr);
    ~SystemTraySurface() override;

    void Show(TrayLook look, const QString& toolTip) override;
    void Notify(const TrayMessage& message) override;

  signals:
    void Clicked();

  private:
    explicit SystemTraySurface(QObject* parent);
    std::unique_ptr<QSystemTrayIcon> icon_;
};

// The icon for each look, drawn from the application's icon: as it is while
// running, grey when stopped, with an exclamation badge when a folder needs
// attention.
QIcon TrayIconFor(TrayLook look);
// icon with the same exclamation badge (at 48 x 48), for a printer that
// needs attention.
QIcon WithAttentionBadge(const QIcon& icon);

// Feeds a surface from the window's refresh: the look and tooltip when they
// change, each notification once. The surface must outlive it.
class TrayIcon {
  public:
    explicit TrayIcon(TraySurface& surface) : surface_(surface) {}
    void Refresh(bool started, const std::vector<TrayFolder>& folders);

  private:
    TraySurface& surface_;
    TrayPresenter presenter_;
    bool shown_ = false;
    TrayLook look_ = TrayLook::Stopped;
    QString toolTip_;
};

}  // namespace tallowin
