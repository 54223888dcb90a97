// frmMain's Qt window.
#include "main_window.h"

#include <cstdlib>
#include <limits>

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>

#include "app/frmMain.h"
#include "layout.h"

namespace quillbeck::qtui {

namespace {

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::string Utf8(const QString& text) { return text.toUtf8().toStdString(); }

const ControlPlace& Place(std::string_view name) {
  for (const ControlPlace& place : kControls) {
    if (place.name == name) return place;
  }
  std::abort();  // a name missing from the table is a programming error
}

// ShowFromStart() sets a field's text with the caret at its start, so a long
// folder or command shows its beginning rather than its end.
void ShowFromStart(QLineEdit& edit, const QString& text) {
  edit.setText(text);
  edit.setCursorPosition(0);
}

}  // namespace

void EndProcessNow() { std::_Exit(0); }

MainWindow::MainWindow(const QIcon& icon, MessageBoxPresenter& boxes, TrayIcon& tray,
                       std::function<void()> end_process)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      boxes_(boxes),
      tray_(tray),
      end_process_(std::move(end_process)) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Brindle"));
  setWindowIcon(icon);
  BuildControls(icon);

  // tmrWork is created enabled; its ticks arrive once the event loop runs.
  tmrWork_.setObjectName(QStringLiteral("tmrWork"));
  tmrWork_.setInterval(kTimerIntervalMs);
  tmrWork_.setTimerType(Qt::CoarseTimer);
  tmrWork_.start();

  // The application is told to quit only when the desktop session ends; the
  // filter sees that before Qt asks the window to close.
  qApp->installEventFilter(this);
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls(const QIcon& icon) {
  const double dpi_x = logicalDpiX();
  const double dpi_y = logicalDpiY();
  setFixedSize(TwipsToPixels(kClientWidthTwips, dpi_x), TwipsToPixels(kClientHeightTwips, dpi_y));

  auto place = [&](QWidget* control, std::string_view name) {
    const ControlPlace& p = Place(name);
    control->setObjectName(QString::fromLatin1(p.name.data(), static_cast<qsizetype>(p.name.size())));
    control->setGeometry(PixelRect(p, dpi_x, dpi_y));
    if (p.font != FontStyle::kNone) control->setFont(StyleFont(p.font));
  };
  auto text = [](std::string_view name) {
    const std::string_view t = Place(name).text;
    return QString::fromLatin1(t.data(), static_cast<qsizetype>(t.size()));
  };

  for (int i = 0; i < 10; ++i) {
    const std::string name = "Label1_" + std::to_string(i);
    QLabel* label = new QLabel(text(name), this);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    label->setFocusPolicy(Qt::NoFocus);
    place(label, name);
    Label1_[static_cast<std::size_t>(i)] = label;
  }
  for (int slot = 1; slot <= 5; ++slot) {
    for (bool folder : {true, false}) {
      const std::string name = (folder ? "txtFolder_" : "txtShell_") + std::to_string(slot);
      QLineEdit* edit = new QLineEdit(this);
      edit->setMaxLength(std::numeric_limits<int>::max());  // no limit of its own
      place(edit, name);
      (folder ? txtFolder_ : txtShell_)[static_cast<std::size_t>(slot)] = edit;
    }
  }

  Picture1_ = new QLabel(this);
  place(Picture1_, "Picture1");
  Picture1_->setFocusPolicy(Qt::NoFocus);
  Picture1_->setAlignment(Qt::AlignCenter);
  Picture1_->setPixmap(icon.pixmap(QSize(32, 32)));

  chkDebug_ = new QCheckBox(text("chkDebug"), this);
  place(chkDebug_, "chkDebug");
  cmdSave_ = new QPushButton(text("cmdSave"), this);
  place(cmdSave_, "cmdSave");
  cmdStart_ = new QPushButton(text("cmdStart"), this);
  place(cmdStart_, "cmdStart");
  // Neither button answers Enter or Esc for the window.
  for (QPushButton* button : {cmdSave_, cmdStart_}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }

  // Focus order by tab index: cmdStart, the slots folder before command,
  // cmdSave, chkDebug (and round again).
  QWidget* previous = cmdStart_;
  for (int slot = 1; slot <= 5; ++slot) {
    for (QWidget* next : {static_cast<QWidget*>(txtFolder_[static_cast<std::size_t>(slot)]),
                          static_cast<QWidget*>(txtShell_[static_cast<std::size_t>(slot)])}) {
      setTabOrder(previous, next);
      previous = next;
    }
  }
  setTabOrder(previous, cmdSave_);
  setTabOrder(cmdSave_, chkDebug_);
  cmdStart_->setFocus();
}

void MainWindow::Attach(frmMain& form) {
  form_ = &form;
  connect(cmdSave_, &QPushButton::clicked, this, [this] { form_->cmdSave_Click(); });
  connect(cmdStart_, &QPushButton::clicked, this, [this] { form_->cmdStart_Click(); });
  // `clicked` comes from the user only, so setting the box from the core
  // does not run the procedure.
  connect(chkDebug_, &QCheckBox::clicked, this, [this] { form_->chkDebug_Click(); });
  // Queued, so the tick runs after the timer's own event has returned: a
  // QTimer does not fire again while its timeout is still running, and the
  // trap's message box would otherwise hold every later tick until OK.
  connect(
      &tmrWork_, &QTimer::timeout, this, [this] { form_->tmrWork_Timer(); }, Qt::QueuedConnection);
  connect(&tray_, &TrayIcon::contextRequested, this,
          [this] { form_->Picture1_MouseMove(kTrayRightDown); });
}

std::string MainWindow::FolderText(int slot) const { return Utf8(txtFolder_.at(static_cast<std::size_t>(slot))->text()); }

void MainWindow::SetFolderText(int slot, const std::string& text) {
  ShowFromStart(*txtFolder_.at(static_cast<std::size_t>(slot)), Utf8(text));
}

std::string MainWindow::ShellText(int slot) const { return Utf8(txtShell_.at(static_cast<std::size_t>(slot))->text()); }

void MainWindow::SetShellText(int slot, const std::string& text) {
  ShowFromStart(*txtShell_.at(static_cast<std::size_t>(slot)), Utf8(text));
}

bool MainWindow::DebugChecked() const { return chkDebug_->checkState() != Qt::Unchecked; }

void MainWindow::SetDebugChecked(bool checked) { chkDebug_->setChecked(checked); }

std::string MainWindow::StartCaption() const { return Utf8(cmdStart_->text()); }

void MainWindow::SetStartCaption(const std::string& caption) { cmdStart_->setText(Utf8(caption)); }

bool MainWindow::TimerEnabled() const { return tmrWork_.isActive(); }

void MainWindow::SetTimerEnabled(bool enabled) {
  // Enabling a running timer leaves its period running, as an Enabled flag
  // that does not change would.
  if (enabled && !tmrWork_.isActive()) tmrWork_.start();
  if (!enabled) tmrWork_.stop();
}

void MainWindow::AddTrayIcon() { tray_.Show(); }

void MainWindow::RemoveTrayIcon() { tray_.Hide(); }

void MainWindow::SetVisible(bool visible) {
  if (!visible) {
    hide();
    return;
  }
  show();
  raise();
  activateWindow();
}

void MainWindow::RestoreNormalSize() {
  setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

void MainWindow::ShowMessageBox(const std::string& text, MessageIcon icon) { boxes_.Show(this, Utf8(text), icon); }

TrayChoice MainWindow::PopupTrayMenu() {
  TrayChoice choice = TrayChoice::kNone;
  const QMetaObject::Connection open =
      connect(&tray_, &TrayIcon::openRequested, this, [&choice] { choice = TrayChoice::kOpen; });
  const QMetaObject::Connection close =
      connect(&tray_, &TrayIcon::closeRequested, this, [&choice] { choice = TrayChoice::kClose; });
  tray_.PopupMenu(QCursor::pos());
  disconnect(open);
  disconnect(close);
  return choice;
}

void MainWindow::EndImmediately() {
  tray_.Hide();  // no dead icon stays behind
  end_process_();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The end of the desktop session is not refused: the program ends with it.
  if (session_ending_ || qApp->isSavingSession() || form_ == nullptr) {
    event->accept();
    return;
  }
  bool cancel = false;
  form_->Form_QueryUnload(cancel);
  if (cancel) {
    event->ignore();
  } else {
    event->accept();
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == qApp && event->type() == QEvent::Quit) session_ending_ = true;
  return QWidget::eventFilter(watched, event);
}

}  // namespace quillbeck::qtui
