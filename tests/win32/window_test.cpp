// The Win32 main window against the real window system (under Wine in the
// cross build): control kinds, places, texts and fonts measured against the
// hand-written table of the window (support/window_geometry.h) at the
// window's DPI, tab order and the keyboard, the seam's controls, and the
// events that reach frmMain (clicks, ticks, close requests, the tray's
// notifications, its popup menu and the message boxes).
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/frmMain.h"
#include "platform/file_system.h"
#include "platform/system_services.h"
#include "platform/win32/text_conversion.h"
#include "support/started_process.h"
#include "support/temp_folder.h"
#include "support/window_geometry.h"
#include "ui/win32/main_window.h"

namespace quillbeck::win32 {
namespace {

using quillbeck::testing::At;
using quillbeck::testing::ClientAt;
using quillbeck::testing::Exists;
using quillbeck::testing::Expected;
using quillbeck::testing::ExpectedControl;
using quillbeck::testing::kExpectedControls;
using quillbeck::testing::Kind;
using quillbeck::testing::Measured;
using quillbeck::testing::Pixels;
using quillbeck::testing::PixelsAt;
using quillbeck::testing::ReadFile;
using quillbeck::testing::TempFolder;
using quillbeck::testing::WriteFile;

// The dialog identifiers of the controls the cases below work.
constexpr int kStart = Expected("cmdStart").win32_id;
constexpr int kSave = Expected("cmdSave").win32_id;
constexpr int kDebug = Expected("chkDebug").win32_id;
constexpr int kPicture = Expected("Picture1").win32_id;
constexpr int kFolder1 = Expected("txtFolder_1").win32_id;

class WindowTest : public ::testing::Test {
 protected:
  WindowTest()
      : services_(folder_.Path()),
        window_(GetModuleHandleW(nullptr)),
        form_(services_.platform(), window_) {
    window_.Create(form_);
  }

  HWND Main() const { return window_.handle(); }
  HWND Control(int id) const { return window_.Control(id); }

  // Show() shows the window as the program does after start-up.
  void Show() {
    window_.ShowFirst();
    Pump();
  }

  // Pump() handles what is queued, as the message loop would.
  void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (IsDialogMessageW(Main(), &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  // PressKey() hands a key press to the dialog manager as the loop does.
  void PressKey(WPARAM key) {
    MSG message{GetFocus(), WM_KEYDOWN, key, 1, 0, {}};
    if (!IsDialogMessageW(Main(), &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Pump();
  }

  std::wstring WindowText(HWND window) const {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
  }

  TempFolder folder_;
  SystemServices services_;
  MainWindow window_;
  frmMain form_;
};

// WhileModal() runs `action` on another thread once a window of `class_name`
// (and `title`, when given) of this process shows, and returns whether it
// appeared; the calling thread meanwhile runs `modal`, which waits for it.
bool WhileModal(const wchar_t* class_name, const wchar_t* title,
                const std::function<void(HWND)>& action, const std::function<void()>& modal) {
  std::atomic<bool> found{false};
  std::thread helper([&] {
    for (int i = 0; i < 500; ++i) {
      HWND window = FindWindowW(class_name, title);
      if (window != nullptr && IsWindowVisible(window)) {
        found = true;
        action(window);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  modal();
  helper.join();
  return found;
}

void PressOnMenu(HWND menu, std::vector<WPARAM> keys) {
  for (WPARAM key : keys) {
    PostMessageW(menu, WM_KEYDOWN, key, 1);
    PostMessageW(menu, WM_KEYUP, key, 0xC0000001);
  }
}

// IsMeasured() says whether the table holds the window's density.
::testing::AssertionResult IsMeasured(int dpi) {
  if (Measured(dpi)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no expected places at " << dpi << " dpi";
}

// RequestedDpi() is the density the runner was asked for (96 unless said).
int RequestedDpi() {
  const char* asked = std::getenv("QUILLBECK_TEST_DPI");
  return asked == nullptr ? 96 : std::atoi(asked);
}

TEST_F(WindowTest, ClientAreaIsTheLayoutsSizeAtTheWindowsDpi) {
  const int dpi = static_cast<int>(GetDpiForWindow(Main()));
  std::printf("the window's DPI: %d\n", dpi);
  EXPECT_EQ(dpi, RequestedDpi()) << "the display is not at the density the run asked for";
  ASSERT_TRUE(IsMeasured(dpi));
  RECT client;
  GetClientRect(Main(), &client);
  EXPECT_EQ(client.right, ClientAt(dpi).width);
  EXPECT_EQ(client.bottom, ClientAt(dpi).height);
}

TEST_F(WindowTest, FrameIsFixedWithCaptionCloseAndMinimize) {
  EXPECT_EQ(WindowText(Main()), L"Brindle");
  const LONG style = GetWindowLongW(Main(), GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_FALSE(IsWindowVisible(Main())) << "hidden until start-up has run";
  EXPECT_EQ(GetMenu(Main()), nullptr) << "no menu bar";
}

// ExpectPlaces() checks every control's rectangle in the client area
// against the table at `dpi`.
void ExpectPlaces(HWND main, int dpi) {
  for (const ExpectedControl& control : kExpectedControls) {
    SCOPED_TRACE(std::string(control.name));
    HWND child = GetDlgItem(main, control.win32_id);
    ASSERT_NE(child, nullptr);
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&rect), 2);
    const Pixels& at = At(control, dpi);
    EXPECT_EQ(rect.left, at.left);
    EXPECT_EQ(rect.top, at.top);
    EXPECT_EQ(rect.right - rect.left, at.width);
    EXPECT_EQ(rect.bottom - rect.top, at.height);
  }
}

// ExpectFont() checks a control's font against its style in the table.
void ExpectFont(HWND control, const ExpectedControl& expected, int dpi) {
  auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  if (expected.font == nullptr) {
    EXPECT_EQ(font, nullptr) << "no font of its own";
    return;
  }
  ASSERT_NE(font, nullptr);
  LOGFONTW log{};
  ASSERT_NE(GetObjectW(font, sizeof(log), &log), 0);
  EXPECT_EQ(WideToUtf8(log.lfFaceName), quillbeck::testing::kFontFace);
  EXPECT_EQ(log.lfCharSet, ANSI_CHARSET);
  EXPECT_EQ(log.lfWeight, expected.font->weight);
  EXPECT_EQ(log.lfHeight, -PixelsAt(*expected.font, dpi)) << "a character height";
  EXPECT_FALSE(log.lfItalic || log.lfUnderline || log.lfStrikeOut);
}

TEST_F(WindowTest, EveryControlStandsInItsPlace) {
  const int dpi = static_cast<int>(GetDpiForWindow(Main()));
  ASSERT_TRUE(IsMeasured(dpi));
  ExpectPlaces(Main(), dpi);
}

class ControlTest : public WindowTest, public ::testing::WithParamInterface<ExpectedControl> {};

TEST_P(ControlTest, HasItsKindTextAndFont) {
  const ExpectedControl& c = GetParam();
  HWND control = Control(c.win32_id);
  ASSERT_NE(control, nullptr);
  wchar_t class_name[64];
  GetClassNameW(control, class_name, 64);
  const LONG style = GetWindowLongW(control, GWL_STYLE);
  switch (c.kind) {
    case Kind::kLabel:
      EXPECT_EQ(_wcsicmp(class_name, L"Static"), 0) << class_name;
      EXPECT_EQ(style & SS_TYPEMASK, SS_LEFT);
      EXPECT_TRUE(style & SS_NOPREFIX) << "no access keys";
      break;
    case Kind::kPictureBox:
      EXPECT_EQ(_wcsicmp(class_name, L"Static"), 0) << class_name;
      EXPECT_EQ(style & SS_TYPEMASK, SS_ICON);
      break;
    case Kind::kButton:
      EXPECT_EQ(_wcsicmp(class_name, L"Button"), 0) << class_name;
      EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);
      break;
    case Kind::kCheckBox:
      EXPECT_EQ(_wcsicmp(class_name, L"Button"), 0) << class_name;
      EXPECT_EQ(style & BS_TYPEMASK, BS_AUTOCHECKBOX);
      break;
    case Kind::kTextBox:
      EXPECT_EQ(_wcsicmp(class_name, L"Edit"), 0) << class_name;
      EXPECT_TRUE(style & ES_AUTOHSCROLL);
      EXPECT_FALSE(style & (ES_MULTILINE | ES_READONLY | ES_PASSWORD));
      EXPECT_GE(static_cast<unsigned long>(SendMessageW(control, EM_GETLIMITTEXT, 0, 0)),
                0x7FFFFFFEul)
          << "no length limit of its own";
      break;
  }
  EXPECT_EQ(WideToUtf8(WindowText(control)), c.text);
  const int dpi = static_cast<int>(GetDpiForWindow(Main()));
  ASSERT_TRUE(IsMeasured(dpi));
  ExpectFont(control, c, dpi);
}

INSTANTIATE_TEST_SUITE_P(Layout, ControlTest, ::testing::ValuesIn(kExpectedControls),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, PictureShowsTheProgramsIcon) {
  EXPECT_NE(SendMessageW(Control(kPicture), STM_GETICON, 0, 0), 0);
  EXPECT_NE(SendMessageW(Main(), WM_GETICON, ICON_BIG, 0), 0);
}

// The font GDI really draws each style with: whatever face the system puts
// behind "MS Sans Serif" (recorded in the output), it has the style's
// weight, the ANSI character set and no italic, underline or strike-out.
TEST_F(WindowTest, GdiDrawsEachStyleWithItsWeightAndCharacterSet) {
  for (const char* name : {"Label1_0", "txtFolder_1", "chkDebug", "cmdSave"}) {
    SCOPED_TRACE(name);
    const ExpectedControl& expected = Expected(name);
    HWND control = Control(expected.win32_id);
    HDC dc = GetDC(control);
    auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    RecordProperty(name, WideToUtf8(face));
    std::printf("%s: \"%ls\", %ld px high (%ld internal leading), weight %ld, %s\n", name, face,
                metrics.tmHeight, metrics.tmInternalLeading, metrics.tmWeight,
                (metrics.tmPitchAndFamily & TMPF_TRUETYPE) ? "TrueType" : "raster");
    EXPECT_EQ(metrics.tmWeight, expected.font->weight);
    EXPECT_EQ(metrics.tmCharSet, ANSI_CHARSET);
    EXPECT_FALSE(metrics.tmItalic || metrics.tmUnderlined || metrics.tmStruckOut);
  }
}

TEST_F(WindowTest, FocusStartsOnStartServiceAndTabWalksTheTabIndexOrder) {
  Show();
  ASSERT_EQ(GetDlgCtrlID(GetFocus()), Expected(quillbeck::testing::kTabWalk.front()).win32_id);
  for (std::size_t i = 1; i < quillbeck::testing::kTabWalk.size(); ++i) {
    PressKey(VK_TAB);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), Expected(quillbeck::testing::kTabWalk[i]).win32_id)
        << "Tab " << i << " to " << quillbeck::testing::kTabWalk[i];
  }
  // Shift+Tab goes back: from cmdStart to chkDebug.
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_SHIFT] = 0x80;
  SetKeyboardState(keys);
  PressKey(VK_TAB);
  keys[VK_SHIFT] = 0;
  SetKeyboardState(keys);
  EXPECT_EQ(GetDlgCtrlID(GetFocus()), kDebug);
}

TEST_F(WindowTest, TextsRoundTripAsUtf8WithoutLimit) {
  const std::string accented = "C:\\D\xC3\xA4ten\\\xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC";
  const std::string long_text(5000, 'x');
  for (int slot = 1; slot <= 5; ++slot) {
    window_.SetFolderText(slot, accented + std::to_string(slot));
    window_.SetShellText(slot, long_text + std::to_string(slot));
  }
  for (int slot = 1; slot <= 5; ++slot) {
    EXPECT_EQ(window_.FolderText(slot), accented + std::to_string(slot));
    EXPECT_EQ(window_.ShellText(slot), long_text + std::to_string(slot));
  }
  window_.SetStartCaption("Stop Service");
  EXPECT_EQ(window_.StartCaption(), "Stop Service");
  EXPECT_EQ(WindowText(Control(kStart)), L"Stop Service");
}

TEST_F(WindowTest, DebugBoxSetFromTheCoreRaisesNoClickButAUserClickDoes) {
  window_.SetDebugChecked(true);
  EXPECT_TRUE(window_.DebugChecked());
  EXPECT_FALSE(form_.global().bDebug) << "BM_SETCHECK must not run chkDebug_Click";
  window_.SetDebugChecked(false);
  SendMessageW(Control(kDebug), BM_CLICK, 0, 0);
  EXPECT_TRUE(window_.DebugChecked());
  EXPECT_TRUE(form_.global().bDebug);
  SendMessageW(Control(kDebug), BM_CLICK, 0, 0);
  EXPECT_FALSE(form_.global().bDebug);
}

TEST_F(WindowTest, StartButtonClickSwitchesTheRealTimer) {
  EXPECT_TRUE(window_.TimerEnabled()) << "created enabled";
  window_.SetStartCaption("Stop Service");
  SendMessageW(Control(kStart), BM_CLICK, 0, 0);
  EXPECT_EQ(window_.StartCaption(), "Start Service");
  EXPECT_FALSE(window_.TimerEnabled());
  // The timer is really gone: there is nothing left to kill.
  EXPECT_FALSE(KillTimer(Main(), MainWindow::kWorkTimer));
  SendMessageW(Control(kStart), BM_CLICK, 0, 0);
  EXPECT_EQ(window_.StartCaption(), "Stop Service");
  EXPECT_TRUE(window_.TimerEnabled());
  EXPECT_TRUE(KillTimer(Main(), MainWindow::kWorkTimer));
}

TEST_F(WindowTest, TimerMessageRunsATickOverTheTextBoxes) {
  const std::string watched = folder_.Make("in");
  folder_.Make("in\\Temp");
  WriteFile(folder_.Join("in\\a.GDT"), "payload");
  window_.SetFolderText(2, watched);
  const std::string record = folder_.Join("record.txt");
  window_.SetShellText(2, quillbeck::testing::RecordStartProgram() + " " + record + " slot2");
  SendMessageW(Main(), WM_TIMER, MainWindow::kWorkTimer, 0);
  EXPECT_FALSE(Exists(folder_.Join("in\\a.GDT")));
  EXPECT_EQ(ReadFile(folder_.Join("in\\Temp\\a.GDT")), "payload");
  EXPECT_NE(quillbeck::testing::WaitForLines(record, 1).find("slot2"), std::string::npos)
      << "the slot's command ran";
}

struct CloseCase {
  const char* name;
  UINT message;
  WPARAM wparam;
};

class CloseRequestTest : public WindowTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseRequestTest, HidesTheWindowAndKeepsTheTimer) {
  Show();
  ASSERT_TRUE(IsWindowVisible(Main()));
  SendMessageW(Main(), GetParam().message, GetParam().wparam, 0);
  Pump();
  EXPECT_FALSE(IsWindowVisible(Main()));
  EXPECT_TRUE(IsWindow(Main()));
  EXPECT_TRUE(window_.TimerEnabled());
}

INSTANTIATE_TEST_SUITE_P(Requests, CloseRequestTest,
                         ::testing::Values(CloseCase{"close", WM_CLOSE, 0},
                                           CloseCase{"system_menu", WM_SYSCOMMAND, SC_CLOSE}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, LetsTheSessionEnd) {
  Show();
  EXPECT_EQ(SendMessageW(Main(), WM_QUERYENDSESSION, 0, 0), TRUE);
  EXPECT_TRUE(IsWindowVisible(Main())) << "asking is not a close request";
  // The end itself (WM_ENDSESSION) ends the process: the end-to-end test
  // covers it.
}

TEST_F(WindowTest, EnterAndEscapeClickNothingExceptAFocusedButton) {
  window_.SetStartCaption("Stop Service");
  Show();
  SetFocus(Control(kFolder1));
  PressKey(VK_RETURN);
  PressKey(VK_ESCAPE);
  EXPECT_EQ(window_.StartCaption(), "Stop Service") << "no default button";
  EXPECT_TRUE(IsWindowVisible(Main())) << "no cancel button";
  const LONG style = GetWindowLongW(Control(kStart), GWL_STYLE);
  EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);
  SetFocus(Control(kStart));
  PressKey(VK_RETURN);
  EXPECT_EQ(window_.StartCaption(), "Start Service");
  EXPECT_EQ(GetWindowLongW(Control(kStart), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON)
      << "the dialog manager must not make it a default button";
}

TEST_F(WindowTest, TrayNotificationsOtherThanRightPressDoNothing) {
  for (UINT mouse : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP,
                     WM_RBUTTONDBLCLK}) {
    SendMessageW(Main(), TrayIcon::kCallbackMessage, TrayIcon::kId, mouse);
  }
  Pump();
  EXPECT_FALSE(IsWindowVisible(Main())) << "in particular a double-click does not show it";
}

TEST_F(WindowTest, RightPressOpensTheMenuAndOpenShowsTheWindow) {
  const bool opened = WhileModal(
      L"#32768", nullptr,
      [](HWND menu) {
        PressOnMenu(menu, {VK_DOWN, VK_RETURN});
      },
      [&] { SendMessageW(Main(), TrayIcon::kCallbackMessage, TrayIcon::kId, WM_RBUTTONDOWN); });
  ASSERT_TRUE(opened);
  Pump();
  EXPECT_TRUE(IsWindowVisible(Main()));
  EXPECT_FALSE(IsIconic(Main()));
}

TEST_F(WindowTest, DismissedMenuLeavesTheWindowHidden) {
  const bool opened = WhileModal(
      L"#32768", nullptr, [](HWND menu) { PressOnMenu(menu, {VK_ESCAPE}); },
      [&] { SendMessageW(Main(), TrayIcon::kCallbackMessage, TrayIcon::kId, WM_RBUTTONDOWN); });
  ASSERT_TRUE(opened);
  Pump();
  EXPECT_FALSE(IsWindowVisible(Main()));
}

TEST_F(WindowTest, OpenRestoresAMinimisedWindowToNormalSize) {
  Show();
  ShowWindow(Main(), SW_MINIMIZE);
  SendMessageW(Main(), WM_CLOSE, 0, 0);
  ASSERT_FALSE(IsWindowVisible(Main()));
  form_.mnuOpen_Click();
  Pump();
  EXPECT_TRUE(IsWindowVisible(Main()));
  EXPECT_FALSE(IsIconic(Main()));
  RECT client;
  GetClientRect(Main(), &client);
  EXPECT_GT(client.right, 0);
}

// IconShown() asks the shell whether it holds the window's tray icon: only
// an icon it knows takes a modification.
bool IconShown(HWND window) {
  NOTIFYICONDATAW probe{};
  probe.cbSize = sizeof(probe);
  probe.hWnd = window;
  probe.uID = TrayIcon::kId;
  return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

TEST_F(WindowTest, TrayIconComesBackWhenTheShellRestartsAndGoesWithRemove) {
  window_.AddTrayIcon();
  ASSERT_TRUE(IconShown(Main()));
  // A restarted shell has forgotten every icon, then announces itself.
  NOTIFYICONDATAW forget{};
  forget.cbSize = sizeof(forget);
  forget.hWnd = Main();
  forget.uID = TrayIcon::kId;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &forget));
  ASSERT_FALSE(IconShown(Main()));
  SendMessageW(Main(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(IconShown(Main())) << "added again";
  window_.RemoveTrayIcon();
  EXPECT_FALSE(IconShown(Main())) << "no dead icon stays behind";
  SendMessageW(Main(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_FALSE(IconShown(Main())) << "a removed icon is not brought back";
}

struct BoxSeen {
  bool owned_by_window = false;
  bool has_icon = false;
  std::wstring text;
};

BOOL CALLBACK FindIcon(HWND child, LPARAM found) {
  wchar_t class_name[16] = {};
  GetClassNameW(child, class_name, 16);
  if (_wcsicmp(class_name, L"Static") == 0 &&
      (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
      SendMessageW(child, STM_GETICON, 0, 0) != 0) {
    *reinterpret_cast<bool*>(found) = true;
  }
  return TRUE;
}

BoxSeen AnswerBox(HWND box, HWND window) {
  BoxSeen seen;
  seen.owned_by_window = GetWindow(box, GW_OWNER) == window;
  EnumChildWindows(box, &FindIcon, reinterpret_cast<LPARAM>(&seen.has_icon));
  wchar_t text[256] = {};
  GetWindowTextW(GetDlgItem(box, 0xFFFF), text, 256);
  seen.text = text;
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  return seen;
}

TEST_F(WindowTest, SaveShowsAnInformationBoxOwnedByTheShownWindow) {
  Show();
  BoxSeen seen;
  const bool shown = WhileModal(
      L"#32770", L"Quillbeck", [&](HWND box) { seen = AnswerBox(box, Main()); },
      [&] { SendMessageW(Control(kSave), BM_CLICK, 0, 0); });
  ASSERT_TRUE(shown) << "a box titled Quillbeck";
  EXPECT_EQ(seen.text, L"Successfully saved.");
  EXPECT_TRUE(seen.owned_by_window);
  EXPECT_TRUE(seen.has_icon);
}

TEST_F(WindowTest, ErrorBoxReachesTheUserWhileTheWindowIsHidden) {
  // A slot whose Temp is missing fails at the copy of every tick.
  folder_.Make("in");
  WriteFile(folder_.Join("in\\a.GDT"), "x");
  window_.SetFolderText(1, folder_.Join("in"));
  BoxSeen seen;
  const bool shown = WhileModal(
      L"#32770", L"Quillbeck", [&](HWND box) { seen = AnswerBox(box, Main()); },
      [&] { SendMessageW(Main(), WM_TIMER, MainWindow::kWorkTimer, 0); });
  ASSERT_TRUE(shown);
  EXPECT_FALSE(seen.owned_by_window) << "a hidden owner would hide the box";
  EXPECT_FALSE(seen.has_icon) << "the trap's box has no icon";
  EXPECT_NE(seen.text.find(L" - "), std::wstring::npos);
}

// A folder typed in that the settings file cannot hold (it is written in
// the ANSI code page, which would make it "?"): Save stops in its trap with
// a box naming the key, logs it under cmdSave_Click, and leaves the file
// byte for byte as it was, the keys before that slot included.
TEST_F(WindowTest, SaveOfAFolderBeyondTheCodePageLeavesTheFileAsItWas) {
  bool lossless = false;
  const std::wstring typed = L"C:\\\u041A\u0432\u0438\u043B";  // C:\Квил
  Utf8ToAnsi(WideToUtf8(typed), &lossless);
  if (lossless) GTEST_SKIP() << "the ANSI code page holds these characters";
  const std::string settings = folder_.Join("Settings.ini");
  const std::string before = "[Quillbeck]\r\nFolder 1=C:\\Drop\r\nDebug=1\r\n";
  WriteFile(settings, before);
  Show();
  window_.SetFolderText(1, "C:\\Other");
  SetWindowTextW(Control(Expected("txtFolder_3").win32_id), typed.c_str());
  BoxSeen seen;
  const bool shown = WhileModal(
      L"#32770", L"Quillbeck", [&](HWND box) { seen = AnswerBox(box, Main()); },
      [&] { SendMessageW(Control(kSave), BM_CLICK, 0, 0); });
  ASSERT_TRUE(shown);
  EXPECT_NE(seen.text.find(L"Folder 3"), std::wstring::npos) << WideToUtf8(seen.text);
  EXPECT_EQ(seen.text.find(L"Successfully saved."), std::wstring::npos);
  EXPECT_EQ(ReadFile(settings), before);
  const std::string errors = ReadFile(folder_.Join("Logs\\Error.log"));
  EXPECT_NE(errors.find("Folder 3"), std::string::npos) << errors;
  EXPECT_NE(errors.find("cmdSave_Click"), std::string::npos) << errors;
}

// A move to a monitor of the other density the table is written for lays
// every control out again and makes the fonts again.
TEST_F(WindowTest, DpiChangeLaysTheControlsOutAgain) {
  const int before = static_cast<int>(GetDpiForWindow(Main()));
  ASSERT_TRUE(IsMeasured(before));
  const int after = before == 96 ? 120 : 96;
  RECT suggested;
  GetWindowRect(Main(), &suggested);
  SendMessageW(Main(), WM_DPICHANGED, MAKEWPARAM(after, after),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(window_.dpi(), static_cast<UINT>(after));
  ExpectPlaces(Main(), after);
  for (const ExpectedControl& control : kExpectedControls) {
    SCOPED_TRACE(std::string(control.name));
    ExpectFont(Control(control.win32_id), control, after);
  }
  // The window asks for the outer size that keeps the client area exact.
  SIZE size{};
  EXPECT_TRUE(SendMessageW(Main(), WM_GETDPISCALEDSIZE, after, reinterpret_cast<LPARAM>(&size)));
  RECT expected{0, 0, ClientAt(after).width, ClientAt(after).height};
  AdjustWindowRectExForDpi(&expected, GetWindowLongW(Main(), GWL_STYLE), FALSE, 0, after);
  EXPECT_EQ(size.cx, expected.right - expected.left);
  EXPECT_EQ(size.cy, expected.bottom - expected.top);
}

}  // namespace
}  // namespace quillbeck::win32
