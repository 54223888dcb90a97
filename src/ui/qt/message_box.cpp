// The real message box.
#include "message_box.h"

#include <QMessageBox>

namespace quillbeck::qtui {

void QtMessageBoxPresenter::Show(QWidget* parent, const QString& text, MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::kInformation ? QMessageBox::Information : QMessageBox::NoIcon,
                  QString::fromLatin1(kApplicationTitle), text, QMessageBox::Ok, parent);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace quillbeck::qtui
