// frmMain's Qt window.
#include "main_window.h"

#include <cstdlib>
#include <limits>

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocalSocket>

#include "app/frmMain.h"
#include "layout.h"
#include "platform/system.h"

namespace quillbeck::qtui {

namespace {

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Utf8(const QString& text) { return text.toUtf8().toStdString(); }

// ObjectName() is a control's name, with its index after an underscore for
// a member of a control array ("txtFolder_1", "cmdStart").
QString ObjectName(const ui::Control& control) {
  QString name = Text(ui::NameText(control.name));
  if (control.index != ui::kNoIndex) name += u'_' + QString::number(control.index);
  return name;
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
  setObjectName(Text(ui::kWindowName));
  setWindowTitle(Text(ui::kCaption));
  setWindowIcon(icon);
  BuildControls(icon);

  // tmrWork is created enabled; its ticks arrive once the event loop runs.
  tmrWork_.setObjectName(Text(ui::kTimerName));
  tmrWork_.setInterval(ui::kTimerPeriodMs);
  tmrWork_.setTimerType(Qt::CoarseTimer);
  tmrWork_.start();

  // The application is told to quit only when the desktop session ends; the
  // filter sees that before Qt asks the window to close.
  qApp->installEventFilter(this);
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls(const QIcon& icon) {
  const int dpi_x = logicalDpiX();
  const int dpi_y = logicalDpiY();
  setFixedSize(ui::TwipsToPixels(ui::kClientWidthTwips, dpi_x),
               ui::TwipsToPixels(ui::kClientHeightTwips, dpi_y));

  for (std::size_t i = 0; i < ui::kControls.size(); ++i) {
    const ui::Control& control = ui::kControls[i];
    QWidget* widget = MakeControl(control, icon);
    widget->setObjectName(ObjectName(control));
    widget->setGeometry(PixelRect(control.place, dpi_x, dpi_y));
    if (control.font != ui::FontStyle::kNone) widget->setFont(StyleFont(control.font));
    if (!ui::TakesFocus(control.kind)) widget->setFocusPolicy(Qt::NoFocus);
    controls_[i] = widget;
  }

  // The focus moves by increasing tab index among the controls that take
  // it, and round again.
  QWidget* previous = nullptr;
  for (const ui::Control* control : ui::InTabOrder()) {
    if (!ui::TakesFocus(control->kind)) continue;
    QWidget* next = controls_[static_cast<std::size_t>(control - ui::kControls.data())];
    if (previous != nullptr) setTabOrder(previous, next);
    previous = next;
  }
  FocusFirst();
}

void MainWindow::FocusFirst() {
  const ui::Control& first = ui::FirstFocus();
  FindWidget(first.name, first.index).setFocus();
}

QWidget* MainWindow::MakeControl(const ui::Control& control, const QIcon& icon) {
  const QString text = Text(control.text);
  switch (control.kind) {
    case ui::ControlKind::kLabel: {
      auto* label = new QLabel(text, this);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setTextFormat(Qt::PlainText);
      return label;
    }
    case ui::ControlKind::kTextBox: {
      auto* edit = new QLineEdit(text, this);
      edit->setMaxLength(std::numeric_limits<int>::max());  // no limit of its own
      return edit;
    }
    case ui::ControlKind::kButton: {
      auto* button = new QPushButton(text, this);
      // Neither button answers Enter or Esc for the window; Enter works the
      // focused one only (eventFilter).
      button->setAutoDefault(false);
      button->setDefault(false);
      return button;
    }
    case ui::ControlKind::kCheckBox: return new QCheckBox(text, this);
    case ui::ControlKind::kPictureBox: {
      auto* picture = new QLabel(this);
      picture->setAlignment(Qt::AlignCenter);
      picture->setPixmap(icon.pixmap(QSize(32, 32)));
      return picture;
    }
  }
  std::abort();  // a kind without a widget is a programming error
}

QWidget& MainWindow::FindWidget(ui::ControlName name, int index) const {
  for (std::size_t i = 0; i < ui::kControls.size(); ++i) {
    if (ui::kControls[i].name == name && ui::kControls[i].index == index) return *controls_[i];
  }
  std::abort();  // a control missing from the description is a programming error
}

void MainWindow::Attach(frmMain& form) {
  form_ = &form;
  connect(&cmdSave(), &QPushButton::clicked, this, [this] { form_->cmdSave_Click(); });
  connect(&cmdStart(), &QPushButton::clicked, this, [this] { form_->cmdStart_Click(); });
  // `clicked` comes from the user only, so setting the box from the core
  // does not run the procedure.
  connect(&chkDebug(), &QCheckBox::clicked, this, [this] { form_->chkDebug_Click(); });
  // Queued, so the tick runs after the timer's own event has returned: a
  // QTimer does not fire again while its timeout is still running, and the
  // trap's message box would otherwise hold every later tick until OK.
  connect(
      &tmrWork_, &QTimer::timeout, this, [this] { form_->tmrWork_Timer(); }, Qt::QueuedConnection);
  // The tray host opens the icon's menu itself; its items run "Open" and
  // "Close".
  connect(&tray_, &TrayIcon::openRequested, this, [this] { form_->mnuOpen_Click(); });
  connect(&tray_, &TrayIcon::closeRequested, this, [this] { form_->mnuClose_Click(); });
}

std::string MainWindow::FolderText(int slot) const { return Utf8(txtFolder(slot).text()); }

void MainWindow::SetFolderText(int slot, const std::string& text) {
  ShowFromStart(txtFolder(slot), Utf8(text));
}

std::string MainWindow::ShellText(int slot) const { return Utf8(txtShell(slot).text()); }

void MainWindow::SetShellText(int slot, const std::string& text) {
  ShowFromStart(txtShell(slot), Utf8(text));
}

std::string MainWindow::StartCaption() const { return Utf8(cmdStart().text()); }

void MainWindow::SetStartCaption(const std::string& caption) { cmdStart().setText(Utf8(caption)); }

void MainWindow::SetTimerEnabled(bool enabled) {
  // Enabling a running timer leaves its period running, as an Enabled flag
  // that does not change would.
  if (enabled && !tmrWork_.isActive()) tmrWork_.start();
  if (!enabled) tmrWork_.stop();
}

void MainWindow::SetVisible(bool visible) {
  if (!visible) {
    hide();
    return;
  }
  show();
  raise();
  activateWindow();
}

void MainWindow::Minimize() {
  setWindowState((windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen)) |
                 Qt::WindowMinimized);
}

void MainWindow::RestoreNormalSize() {
  setWindowState(windowState() &
                 ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

void MainWindow::ShowMessageBox(const std::string& text, MessageIcon icon) {
  boxes_.Show(this, Utf8(text), icon);
}

TrayChoice MainWindow::PopupTrayMenu() {
  // The menu's items run "Open" and "Close" themselves, as from the tray.
  tray_.PopupMenu(QCursor::pos());
  return TrayChoice::kNone;
}

void MainWindow::ServeOpenRequests(const std::string& settings_folder) {
  const QString address = Utf8(OpenRequestAddress(settings_folder));
  if (address.isEmpty() || open_requests_ != nullptr) return;
  auto* server = new QLocalServer(this);
  // The socket lies in a folder only the user can enter, and is the user's
  // alone besides.
  server->setSocketOptions(QLocalServer::UserAccessOption);
  // This copy holds the mark: a socket at the address is one that a copy
  // which has ended left behind.
  QLocalServer::removeServer(address);
  if (!server->listen(address)) {
    delete server;
    return;
  }
  // A connection is the request; nothing is read from it.
  connect(server, &QLocalServer::newConnection, this, [this, server] {
    while (QLocalSocket* peer = server->nextPendingConnection()) {
      peer->disconnectFromServer();
      peer->deleteLater();
      if (form_ != nullptr) form_->mnuOpen_Click();
    }
  });
  open_requests_ = server;
}

void MainWindow::AskRunningCopyToOpen(const std::string& settings_folder) {
  const QString address = Utf8(OpenRequestAddress(settings_folder));
  if (address.isEmpty()) return;
  QLocalSocket socket;
  socket.connectToServer(address);
  // A local connection is made at once or not at all.
  if (socket.waitForConnected(1000)) socket.disconnectFromServer();
}

void MainWindow::EndImmediately() {
  tray_.Hide();  // no dead icon stays behind
  end_process_();
}

void MainWindow::Post(std::function<void()> task) noexcept {
  try {
    // Queued to this object, so it runs on the window's thread whichever
    // thread posts it.
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
  } catch (...) {
  }
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
  if (watched == qApp && event->type() == QEvent::Quit) {
    session_ending_ = true;
    if (form_ != nullptr) form_->SessionEnding();
  }
  // Enter clicks the button that has the focus, as the dialog manager does in
  // the Windows window; no button is a default one, so Enter elsewhere (a text
  // box, the check box) does nothing. autoDefault would do the same, but
  // would draw the focused button as the window's default.
  if (event->type() == QEvent::KeyPress && (watched == &cmdSave() || watched == &cmdStart())) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      static_cast<QPushButton*>(watched)->click();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace quillbeck::qtui
