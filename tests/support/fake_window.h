// A fake window for driving frmMain's event procedures: plain public records
// that a test arranges, then asserts on.
#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/runtime_error.h"
#include "platform/window.h"

namespace quillbeck::testing {

struct ShownBox {
  std::string text;
  MessageIcon icon;
};

struct FakeWindow : Window {
  std::array<std::string, 6> folder{};  // index 1..5
  std::array<std::string, 6> shell{};
  bool debug_checked = false;
  std::string start_caption = "Start Service";  // as created
  bool timer_enabled = true;                    // created enabled
  bool visible = true;
  bool normal_size = true;
  bool minimized = false;
  // Whether a tray host shows the icon.
  bool tray_available = true;
  // The settings folders this window serves open requests for, and those
  // whose running copy it asked to open.
  std::vector<std::string> serving;
  std::vector<std::string> asked_to_open;
  int tray_icons_added = 0;
  int tray_icons_removed = 0;
  bool ended = false;
  std::vector<ShownBox> boxes;
  TrayChoice tray_choice = TrayChoice::kNone;
  int tray_menus_opened = 0;
  // Runs inside ShowMessageBox, as the modal loop would run further events.
  std::function<void()> while_box_open;
  // Makes AddTrayIcon raise, as a shell that fails would.
  bool fail_add_tray_icon = false;

  std::string FolderText(int slot) const override { return folder.at(slot); }
  void SetFolderText(int slot, const std::string& text) override { folder.at(slot) = text; }
  std::string ShellText(int slot) const override { return shell.at(slot); }
  void SetShellText(int slot, const std::string& text) override { shell.at(slot) = text; }
  bool DebugChecked() const override { return debug_checked; }
  void SetDebugChecked(bool checked) override { debug_checked = checked; }
  std::string StartCaption() const override { return start_caption; }
  void SetStartCaption(const std::string& caption) override { start_caption = caption; }
  void SetTimerEnabled(bool enabled) override { timer_enabled = enabled; }
  void AddTrayIcon() override {
    if (fail_add_tray_icon) throw RuntimeError(-2147467259, "Unspecified error");
    ++tray_icons_added;
  }
  void RemoveTrayIcon() override { ++tray_icons_removed; }
  bool TrayAvailable() const override { return tray_available; }
  void SetVisible(bool v) override { visible = v; }
  void Minimize() override {
    minimized = true;
    normal_size = false;
  }
  void RestoreNormalSize() override {
    normal_size = true;
    minimized = false;
  }
  void ServeOpenRequests(const std::string& settings_folder) override {
    serving.push_back(settings_folder);
  }
  void AskRunningCopyToOpen(const std::string& settings_folder) override {
    asked_to_open.push_back(settings_folder);
  }
  void ShowMessageBox(const std::string& text, MessageIcon icon) override {
    boxes.push_back({text, icon});
    if (while_box_open) {
      auto run = std::move(while_box_open);
      run();
    }
  }
  TrayChoice PopupTrayMenu() override {
    ++tray_menus_opened;
    return tray_choice;
  }
  void EndImmediately() override { ended = true; }
  // Post() keeps the task for RunPosted(), which runs what was posted, as
  // the window's event loop would.
  void Post(std::function<void()> task) noexcept override {
    std::lock_guard<std::mutex> lock(posted_mutex);
    posted.push_back(std::move(task));
  }
  int RunPosted() {
    std::vector<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> lock(posted_mutex);
      tasks.swap(posted);
    }
    for (auto& task : tasks) task();
    return static_cast<int>(tasks.size());
  }
  std::mutex posted_mutex;
  std::vector<std::function<void()>> posted;  // guarded by posted_mutex
};

}  // namespace quillbeck::testing
