// The tray icon's object.
#include "tray_icon.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusServiceWatcher>
#include <QGuiApplication>

#include "layout.h"

namespace quillbeck::qtui {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

// StatusNotifierHostRegistered() asks the session bus whether a
// StatusNotifierItem host is there now.
bool StatusNotifierHostRegistered() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusInterface watcher(kWatcherService, kWatcherPath, kWatcherService, bus);
  return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
}

// OnlyStatusNotifierItems() is whether the platform has no tray but a
// StatusNotifierItem host (Wayland): there Qt cannot make an icon before
// such a host is there.
bool OnlyStatusNotifierItems() {
  return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace

TrayIcon::TrayIcon(const QIcon& icon, QObject* parent) : QObject(parent), image_(icon) {
  menu_.setObjectName(Text(ui::kTrayMenuName));
  menu_.setTitle(Text(ui::kTrayMenuCaption));
  for (const ui::MenuItem& item : ui::kTrayItems) {
    QAction* action = menu_.addAction(Text(item.caption));
    action->setObjectName(Text(item.name));
    connect(action, &QAction::triggered, this,
            item.item == TrayChoice::kOpen ? &TrayIcon::openRequested : &TrayIcon::closeRequested);
  }
  if (OnlyStatusNotifierItems() && !StatusNotifierHostRegistered()) {
    WatchForHost();
  } else {
    MakeIcon();
  }
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::WatchForHost() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (watching_ || !bus.isConnected()) return;
  watching_ = true;
  // A host registers with the watcher service, which may itself start
  // with the host (a bar that is its own watcher) or before it.
  auto* services = new QDBusServiceWatcher(kWatcherService, bus,
                                           QDBusServiceWatcher::WatchForRegistration, this);
  connect(services, &QDBusServiceWatcher::serviceRegistered, this, &TrayIcon::HostRegistered);
  bus.connect(kWatcherService, kWatcherPath, kWatcherService,
              QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(HostRegistered()));
}

void TrayIcon::HostRegistered() {
  if (icon_ == nullptr && StatusNotifierHostRegistered()) MakeIcon();
}

void TrayIcon::MakeIcon() {
  if (icon_ != nullptr) return;
  icon_ = std::make_unique<QSystemTrayIcon>(image_);
  // The host opens the menu itself; the activations (left click,
  // double-click, middle click, right click) need no answer of ours.
  icon_->setContextMenu(&menu_);
  if (wanted_) icon_->show();
}

void TrayIcon::Show() {
  wanted_ = true;
  if (icon_ != nullptr) icon_->show();
}

void TrayIcon::Hide() {
  wanted_ = false;
  if (icon_ != nullptr) icon_->hide();
}

bool TrayIcon::Shown() const { return wanted_; }

bool TrayIcon::HostAvailable() const {
  // Asked only once the icon is made: before, asking would make Qt settle
  // for an icon that no host can show.
  return icon_ != nullptr && QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::PopupMenu(const QPoint& position) { menu_.exec(position); }

}  // namespace quillbeck::qtui
