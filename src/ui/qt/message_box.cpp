// The real message box.
#include "message_box.h"

#include <QMessageBox>

#include "layout.h"

namespace quillbeck::qtui {

void QtMessageBoxPresenter::Show(QWidget* parent, const QString& text, MessageIcon icon) {
  QMessageBox box(
      icon == MessageIcon::kInformation ? QMessageBox::Information : QMessageBox::NoIcon,
      Text(ui::kMessageBoxTitle), text, QMessageBox::Ok, parent);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace quillbeck::qtui
