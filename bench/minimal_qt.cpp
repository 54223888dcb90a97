// minimal_qt: the yardstick for what Quillbeck costs while it waits. The
// least a resident Qt 6 program with a window and a tray icon can be: one
// shown window, one tray icon, the event loop, nothing else.
//
// With --controls the window also holds a label, a text box and a button,
// so that the fonts and the text drawing are loaded as in any window that
// shows text; bench/run reports it beside the bare one.
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>
#include <cstring>

int main(int argc, char** argv) {
  const bool controls = argc > 1 && std::strcmp(argv[1], "--controls") == 0;
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::darkCyan);
  const QIcon icon(pixmap);
  QWidget window;
  window.setWindowTitle("minimal");
  window.setWindowIcon(icon);
  window.resize(556, 537);
  if (controls) {
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel("Folder 1:"));
    layout->addWidget(new QLineEdit("/srv/drop/one"));
    layout->addWidget(new QPushButton("Save"));
  }
  QSystemTrayIcon tray(icon);
  tray.show();
  window.show();
  return QApplication::exec();
}
