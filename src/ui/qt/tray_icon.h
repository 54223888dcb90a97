// The tray icon and its menu of the description's items ("Open", "Close").
//
// One small object owns the system tray icon and the menu and speaks in
// intents: a right-button click on the icon is contextRequested(); picking
// an item of the menu is openRequested() or closeRequested(). The window
// only connects to them. The menu is never attached to the icon as its
// context menu: the window's event procedure decides whether it opens.
#pragma once

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

  // Show() puts the icon into the notification area; Hide() takes it away.
  // Both may be called any number of times.
  virtual void Show();
  virtual void Hide();
  virtual bool Shown() const;

  // PopupMenu() opens the menu with its left edge at `position` and waits
  // until an item is picked (emitting its intent) or the menu is dismissed.
  virtual void PopupMenu(const QPoint& position);

  QSystemTrayIcon& system_icon() { return icon_; }
  QMenu& menu() { return menu_; }

 signals:
  void contextRequested();
  void openRequested();
  void closeRequested();

 private:
  QSystemTrayIcon icon_;
  QMenu menu_;
};

}  // namespace quillbeck::qtui
