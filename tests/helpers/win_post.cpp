// win_post: drives and inspects a running Quillbeck.exe from outside, as
// another program or the shell would, for the end-to-end tests.
//
//   win_post state            prints "visible=0|1 iconic=0|1 focus=<control id>
//                             start=<caption of cmdStart>"
//   win_post close            posts WM_CLOSE (a close request of another program)
//   win_post tray <message>   posts the tray icon's notification for a mouse
//                             message (516: right button pressed)
//   win_post menu [<key>...]  waits for the tray's popup menu, prints its screen
//                             rectangle "x y width height" and presses keys on
//                             it: down, up, return, escape
//   win_post minimize         minimises the window (the title bar's button)
//   win_post key <key>        posts a key press (tab, return, escape) to the
//                             control that has the focus, as the keyboard would
//   win_post rect <id>        prints the screen rectangle "x y width height" of
//                             a control (0: the window's client area, -1: the
//                             whole window with its frame)
//   win_post box [wait]       waits for a message box titled "Quillbeck",
//                             prints its owner and text ("owned=0|1 text=..."),
//                             and answers OK (with "wait": leaves it open)
//   win_post ping             sends the window a message (WM_NULL) and prints
//                             "answered=1" when its thread handles it within
//                             two seconds, "answered=0" otherwise
//   win_post endsession       asks the window whether the session may end, prints
//                             the answer ("query=1"), then tells it the session ends
//
// Exit status 0 on success, 1 when the window (or menu, or box) is not found
// within ten seconds, 2 on bad usage. The tray message and identifier are
// those of the program (WM_APP + 1, icon 2).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr UINT kTrayMessage = WM_APP + 1;
constexpr WPARAM kTrayId = 2;

HWND WaitFor(const wchar_t* class_name, const wchar_t* title, bool visible) {
  for (int i = 0; i < 200; ++i) {
    HWND window = FindWindowW(class_name, title);
    if (window != nullptr && (!visible || IsWindowVisible(window))) return window;
    Sleep(50);
  }
  return nullptr;
}

HWND MainWindow() { return WaitFor(L"QuillbeckMainWindow", L"Brindle", false); }

std::string Narrow(const wchar_t* text) {
  char buffer[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof(buffer) - 1, nullptr, nullptr);
  return buffer;
}

WPARAM KeyOf(const char* name) {
  if (std::strcmp(name, "tab") == 0) return VK_TAB;
  if (std::strcmp(name, "down") == 0) return VK_DOWN;
  if (std::strcmp(name, "up") == 0) return VK_UP;
  if (std::strcmp(name, "return") == 0) return VK_RETURN;
  if (std::strcmp(name, "escape") == 0) return VK_ESCAPE;
  return 0;
}

HWND Focus(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus != nullptr && IsChild(window, info.hwndFocus) ? info.hwndFocus : nullptr;
}

void PressKey(HWND target, WPARAM key) {
  PostMessageW(target, WM_KEYDOWN, key, 1);
  PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

int State(HWND window) {
  HWND focused = Focus(window);
  const int focus = focused != nullptr ? GetDlgCtrlID(focused) : 0;
  wchar_t caption[64] = {};
  GetWindowTextW(GetDlgItem(window, 100), caption, 64);
  std::printf("visible=%d iconic=%d focus=%d start=%s\n", IsWindowVisible(window) ? 1 : 0,
              IsIconic(window) ? 1 : 0, focus, Narrow(caption).c_str());
  return 0;
}

int Rect(HWND window, int id) {
  RECT rect{};
  if (id == -1) {
    GetWindowRect(window, &rect);
  } else if (id == 0) {
    GetClientRect(window, &rect);
    MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&rect), 2);
  } else {
    HWND control = GetDlgItem(window, id);
    if (control == nullptr) return 1;
    GetWindowRect(control, &rect);
  }
  std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
              rect.bottom - rect.top);
  return 0;
}

int Box(HWND window, bool answer) {
  HWND box = WaitFor(L"#32770", L"Quillbeck", true);
  if (box == nullptr) return 1;
  wchar_t text[512] = {};
  GetWindowTextW(GetDlgItem(box, 0xFFFF), text, 512);
  std::printf("owned=%d text=%s\n", GetWindow(box, GW_OWNER) == window ? 1 : 0,
              Narrow(text).c_str());
  if (answer) PostMessageW(box, WM_COMMAND, IDOK, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  HWND window = MainWindow();
  if (window == nullptr) {
    std::fprintf(stderr, "win_post: no window \"Brindle\"\n");
    return 1;
  }
  if (command == "state") return State(window);
  if (command == "close") return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
  if (command == "tray" && argc == 3) {
    return PostMessageW(window, kTrayMessage, kTrayId, std::atoi(argv[2])) ? 0 : 1;
  }
  if (command == "menu") {
    HWND menu = WaitFor(L"#32768", nullptr, true);
    if (menu == nullptr) return 1;
    RECT rect{};
    GetWindowRect(menu, &rect);
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                rect.bottom - rect.top);
    for (int i = 2; i < argc; ++i) {
      const WPARAM key = KeyOf(argv[i]);
      if (key == 0) return 2;
      PressKey(menu, key);
    }
    return 0;
  }
  if (command == "key" && argc == 3) {
    HWND focused = Focus(window);
    const WPARAM key = KeyOf(argv[2]);
    if (focused == nullptr || key == 0) return 1;
    PressKey(focused, key);
    return 0;
  }
  if (command == "minimize") {
    return PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0) ? 0 : 1;
  }
  if (command == "rect" && argc == 3) return Rect(window, std::atoi(argv[2]));
  if (command == "box") return Box(window, !(argc == 3 && std::strcmp(argv[2], "wait") == 0));
  if (command == "ping") {
    const bool answered =
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 2000, nullptr) != 0;
    std::printf("answered=%d\n", answered ? 1 : 0);
    return 0;
  }
  if (command == "endsession") {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000,
                        &answer);
    std::printf("query=%d\n", answer != 0 ? 1 : 0);
    std::fflush(stdout);
    SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000, nullptr);
    return 0;
  }
  return 2;
}
