// The tray icon's object.
#include "tray_icon.h"

#include <QAction>

#include "layout.h"

namespace quillbeck::qtui {

TrayIcon::TrayIcon(const QIcon& icon, QObject* parent) : QObject(parent), icon_(icon) {
  menu_.setObjectName(Text(ui::kTrayMenuName));
  menu_.setTitle(Text(ui::kTrayMenuCaption));
  for (const ui::MenuItem& item : ui::kTrayItems) {
    QAction* action = menu_.addAction(Text(item.caption));
    action->setObjectName(Text(item.name));
    connect(
        action, &QAction::triggered, this,
        item.item == ui::TrayItem::kOpen ? &TrayIcon::openRequested : &TrayIcon::closeRequested);
  }

  // Only the right button asks for the menu; a left click, a double-click
  // and the middle button do nothing.
  connect(&icon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Context) emit contextRequested();
          });
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::Show() { icon_.show(); }

void TrayIcon::Hide() { icon_.hide(); }

bool TrayIcon::Shown() const { return icon_.isVisible(); }

void TrayIcon::PopupMenu(const QPoint& position) { menu_.exec(position); }

}  // namespace quillbeck::qtui
