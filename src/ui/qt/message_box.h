// Modal message boxes with the application's title, behind a small interface so the
// window's tests can record boxes instead of waiting for a user.
#pragma once

#include <QString>

#include "platform/window.h"

class QWidget;

namespace quillbeck::qtui {

class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;
  // Show() shows `text` with `icon` and one OK button, and returns when the
  // box is closed.
  virtual void Show(QWidget* parent, const QString& text, MessageIcon icon) = 0;
};

// QtMessageBoxPresenter shows an application-modal QMessageBox; the event
// loop inside it goes on delivering timer ticks.
class QtMessageBoxPresenter : public MessageBoxPresenter {
 public:
  void Show(QWidget* parent, const QString& text, MessageIcon icon) override;
};

}  // namespace quillbeck::qtui
