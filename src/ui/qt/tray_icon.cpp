// The tray icon's object.
#include "tray_icon.h"

#include <QAction>

namespace quillbeck::qtui {

TrayIcon::TrayIcon(const QIcon& icon, QObject* parent) : QObject(parent), icon_(icon) {
  menu_.setObjectName(QStringLiteral("mnuTray"));
  menu_.setTitle(QStringLiteral("TRAY"));
  QAction* open = menu_.addAction(QStringLiteral("Open"));
  open->setObjectName(QStringLiteral("mnuOpen"));
  QAction* close = menu_.addAction(QStringLiteral("Close"));
  close->setObjectName(QStringLiteral("mnuClose"));
  connect(open, &QAction::triggered, this, &TrayIcon::openRequested);
  connect(close, &QAction::triggered, this, &TrayIcon::closeRequested);

  // Only the right button asks for the menu; a left click, a double-click
  // and the middle button do nothing.
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Context) emit contextRequested();
  });
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::Show() { icon_.show(); }

void TrayIcon::Hide() { icon_.hide(); }

bool TrayIcon::Shown() const { return icon_.isVisible(); }

void TrayIcon::PopupMenu(const QPoint& position) { menu_.exec(position); }

}  // namespace quillbeck::qtui
