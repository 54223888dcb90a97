// minimal_qt: the yardsticks for what Quillbeck costs while it waits.
//
//   minimal_qt                     the least a resident Qt 6 program with a
//                                  window and a tray icon can be: one shown
//                                  window, one tray icon, the event loop
//   minimal_qt --controls          the same window with a label, a text box
//                                  and a button, so the text stack is loaded
//   minimal_qt --window FOLDER...  like for like: the window's controls as
//                                  the window description lists them
//                                  (src/ui/window_layout.h: ten text boxes,
//                                  their captions, the buttons, the check box
//                                  and the picture box, at their places and in
//                                  their fonts), a tray icon with a two-item
//                                  menu, and a timer of the window's period
//                                  that lists each FOLDER, as the waiting
//                                  service does; nothing else
//
// bench/run measures the real program against --window (figure 3) and
// reports the other two beside it for information.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "ui/window_layout.h"

namespace {

namespace ui = quillbeck::ui;

QFont FontFor(ui::FontStyle style) {
  const ui::Font font = ui::FontOf(style);
  QFont result(QString::fromUtf8(ui::kFontFace.data(), static_cast<int>(ui::kFontFace.size())));
  result.setPointSizeF(font.centipoints / 100.0);
  result.setBold(font.weight >= 700);
  return result;
}

// BuildWindow() puts every control of the description into `window`.
void BuildWindow(QWidget& window, const QIcon& icon) {
  const int dpi = window.logicalDpiX();
  window.setFixedSize(ui::TwipsToPixels(ui::kClientWidthTwips, dpi),
                      ui::TwipsToPixels(ui::kClientHeightTwips, dpi));
  for (const ui::Control& control : ui::kControls) {
    const QString text =
        QString::fromUtf8(control.text.data(), static_cast<int>(control.text.size()));
    QWidget* widget = nullptr;
    switch (control.kind) {
      case ui::ControlKind::kLabel: widget = new QLabel(text, &window); break;
      case ui::ControlKind::kTextBox: widget = new QLineEdit(text, &window); break;
      case ui::ControlKind::kButton: widget = new QPushButton(text, &window); break;
      case ui::ControlKind::kCheckBox: widget = new QCheckBox(text, &window); break;
      case ui::ControlKind::kPictureBox: {
        auto* picture = new QLabel(&window);
        picture->setPixmap(icon.pixmap(32, 32));
        widget = picture;
        break;
      }
    }
    const ui::PixelRect place = ui::ToPixels(control.place, dpi, dpi);
    widget->setGeometry(place.left, place.top, place.width, place.height);
    if (control.font != ui::FontStyle::kNone) widget->setFont(FontFor(control.font));
  }
}

// CountMatches() lists `folder` as a waiting tick does and counts the names
// that end in ".GDT" in any letter case.
int CountMatches(const std::filesystem::path& folder) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) return 0;
  int matches = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::string name = entry.path().filename().string();
    if (name.size() >= 4) {
      std::string tail = name.substr(name.size() - 4);
      for (char& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (tail == ".GDT") ++matches;
    }
  }
  return matches;
}

}  // namespace

int main(int argc, char** argv) {
  const bool controls = argc > 1 && std::strcmp(argv[1], "--controls") == 0;
  const bool like_for_like = argc > 1 && std::strcmp(argv[1], "--window") == 0;
  std::vector<std::filesystem::path> folders;
  if (like_for_like) {
    for (int i = 2; i < argc; ++i) folders.emplace_back(argv[i]);
  }
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
  QMenu menu;
  QTimer timer;
  int seen = 0;
  if (like_for_like) {
    BuildWindow(window, icon);
    menu.addAction("Open", &window, &QWidget::showNormal);
    menu.addAction("Close", &app, &QApplication::quit);
    tray.setContextMenu(&menu);
    timer.setInterval(ui::kTimerPeriodMs);
    QObject::connect(&timer, &QTimer::timeout, [&] {
      for (const auto& folder : folders) seen += CountMatches(folder);
    });
    timer.start();
  }
  tray.show();
  window.show();
  const int status = QApplication::exec();
  return seen < 0 ? 1 : status;
}
