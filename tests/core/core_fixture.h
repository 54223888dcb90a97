// A running frmMain over a real temporary executable folder (TestPlatform)
// and a fake window.
#pragma once

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/frmMain.h"
#include "platform/platform.h"
#include "support/fake_services.h"
#include "support/fake_window.h"
#include "support/started_process.h"
#include "support/temp_folder.h"
#include "support/test_platform.h"

namespace quillbeck::testing {

// LinesOf() splits a log's bytes at CR LF.
inline std::vector<std::string> LinesOf(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(bytes.substr(start, end - start));
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

class CoreTest : public ::testing::Test, protected TestPlatform {
 protected:
  // Every tick's work ends within the tick, however slow the machine (Wine
  // under load starts a process in a fifth of a second): the cases check
  // the whole of it. The cases of slow work make a form of their own.
  CoreTest() { form.watch().folder_work_wait = std::chrono::minutes(5); }

  FakeWindow window;
  frmMain form{platform, window};

  std::string SettingsPath() const { return install.Join("Settings.ini"); }
  std::string LogPath(const std::string& name) const {
    return install.Join("Logs") + PathSeparator() + name;
  }
  std::vector<std::string> DebugLines() const { return LinesOf(ReadFile(LogPath("Debug.log"))); }
  std::vector<std::string> ErrorLines() const { return LinesOf(ReadFile(LogPath("Error.log"))); }
  std::string Stamp() const { return time_stamps.stamp; }

  // Traced() is the debug lines without their time stamps.
  std::vector<std::string> Traced() const {
    std::vector<std::string> messages;
    const std::string prefix = Stamp() + " - ";
    for (const std::string& line : DebugLines()) {
      EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
      messages.push_back(line.substr(prefix.size()));
    }
    return messages;
  }

  // Command() is a command text that records "<tag>" in `record` when started.
  std::string Command(const std::string& record, const std::string& tag) const {
    return Quoted(RecordStartProgram()) + " " + Quoted(record) + " " + tag;
  }
};

}  // namespace quillbeck::testing
