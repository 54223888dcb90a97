// quillbeck: the Linux desktop program. Builds the platform services and the
// Qt window, runs the start-up sequence before the window is shown, then
// hands over to Qt's event loop, and ends the process at once when that
// returns. Arguments are not read.
#include <QApplication>

#include "app/frmMain.h"
#include "main_window.h"
#include "message_box.h"
#include "platform/system_services.h"
#include "program_icon.h"
#include "tray_icon.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Hiding the window must not end the program: only "Close", a second
  // copy and the end of the desktop session do.
  QApplication::setQuitOnLastWindowClosed(false);

  quillbeck::SystemServices services;

  const QIcon icon = quillbeck::qtui::ProgramIcon();
  quillbeck::qtui::QtMessageBoxPresenter boxes;
  quillbeck::qtui::TrayIcon tray(icon);
  quillbeck::qtui::MainWindow window(icon, boxes, tray);
  quillbeck::frmMain form(services.platform(), window);
  window.Attach(form);

  form.Form_Load();
  window.FocusFirst();
  window.show();
  QApplication::exec();
  // The desktop session has ended. The process ends here and now, as
  // "Close" ends it: nothing waits for a slot's work still stuck on a share,
  // and the single-instance lock goes only with the process.
  window.EndImmediately();
}
