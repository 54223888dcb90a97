// Quillbeck.exe: builds the platform, the window and frmMain, runs the
// start-up sequence, registers for restart, shows the window and runs the
// message loop. The program takes no arguments; it ends only through the
// immediate end.
#include <windows.h>

#include <commctrl.h>

#include <memory>

#include "app/frmMain.h"
#include "platform/runtime_error.h"
#include "platform/system_services.h"
#include "platform/win32/text_conversion.h"
#include "ui/win32/main_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The manifest declares per-monitor (v2) awareness; this covers a copy
  // run without its manifest and fails harmlessly otherwise.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  quillbeck::SystemServices services;

  quillbeck::win32::MainWindow window(instance);
  quillbeck::frmMain form(services.platform(), window);
  try {
    window.Create(form);
  } catch (const quillbeck::RuntimeError&) {
    MessageBoxW(nullptr, L"The window could not be created.",
                quillbeck::win32::Utf8ToWide(quillbeck::ui::kMessageBoxTitle).c_str(),
                MB_OK | MB_ICONERROR);
    return 1;
  }
  form.Form_Load();
  // Past Form_Load this copy holds the single-instance mark: a second copy
  // has ended there. Registered, it is started again by Restart Manager,
  // which closes it (as a session end does) when an update must replace its
  // files, and by Windows Error Reporting after a crash or a hang, since a
  // resident service should come back by itself. Not after a reboot: the
  // Run value starts it at login, and a second start would only end at once.
  RegisterApplicationRestart(nullptr, RESTART_NO_REBOOT);
  window.ShowFirst();
  return window.RunMessageLoop();
}
