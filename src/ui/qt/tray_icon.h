// The tray icon and its menu of the description's items ("Open", "Close").
//
// One small object owns the system tray icon and the menu and speaks in
// intents: picking an item of the menu is openRequested() or
// closeRequested(); the window only connects to them. The menu is the
// icon's own context menu, so every tray host opens it at the icon on a
// right-button click: an XEmbed tray through Qt's popup, a
// StatusNotifierItem host (X11 or Wayland) through the menu Qt exports over
// D-Bus. A left click and a double-click do nothing.
//
// The icon appears whenever a tray host does. Qt picks the kind of icon
// (XEmbed or StatusNotifierItem) once per process, when the first icon is
// made, and under Wayland it can only be a StatusNotifierItem; so there the
// icon is made only once a StatusNotifierItem host is registered on the
// session bus, and this object watches the bus until one is. Once made, Qt
// follows the host itself: a tray host that restarts gets the icon again.
#pragma once

#include <memory>

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QSystemTrayIcon>

namespace quillbeck::qtui {

class TrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit TrayIcon(const QIcon& icon, QObject* parent = nullptr);
  ~TrayIcon() override;

  // Show() wants the icon in the notification area: at once where a tray
  // host is, else as soon as one appears. Hide() takes it away. Both may be
  // called any number of times.
  virtual void Show();
  virtual void Hide();
  // Shown() is whether the icon is wanted.
  virtual bool Shown() const;
  // HostAvailable() is whether a tray host shows the icon now.
  virtual bool HostAvailable() const;

  // PopupMenu() opens the menu with its left edge at `position` and waits
  // until an item is picked (emitting its intent) or the menu is dismissed.
  virtual void PopupMenu(const QPoint& position);

  // system_icon() is the icon once it is made (null while no host is there
  // to take it).
  QSystemTrayIcon* system_icon() { return icon_.get(); }
  QMenu& menu() { return menu_; }

 signals:
  void openRequested();
  void closeRequested();

 private slots:
  void HostRegistered();

 private:
  // MakeIcon() makes the icon if there is none and Qt can place it now or
  // follow the hosts by itself.
  void MakeIcon();
  void WatchForHost();

  QIcon image_;
  QMenu menu_;
  std::unique_ptr<QSystemTrayIcon> icon_;
  bool wanted_ = false;
  bool watching_ = false;
};

}  // namespace quillbeck::qtui
