// The record_start helper program, which appends a line to the file named
// by its first argument each time it starts, and waiting for what a started
// process writes. Shared by the suites that start real processes.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

#include "platform/file_system.h"
#include "platform/system.h"
#include "support/temp_folder.h"

namespace quillbeck::testing {

// RecordStartProgram() is the record_start helper: beside the test program,
// where the build puts both (a path the Windows build can use under Wine),
// else where the build made it.
inline std::string RecordStartProgram() {
#ifdef _WIN32
  const std::string beside = ExecutableFolder() + PathSeparator() + "record_start.exe";
#else
  const std::string beside = ExecutableFolder() + PathSeparator() + "record_start";
#endif
#ifdef QUILLBECK_RECORD_START
  return Exists(beside) ? beside : std::string(QUILLBECK_RECORD_START);
#else
  return beside;
#endif
}

// Quoted() is `text` in double quotes, which both systems' launch takes as
// one argument (for texts without quotes or backslash escapes).
inline std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// WaitForLines() is the contents of `path` once it holds `lines` lines, or
// whatever it holds when a generous deadline has passed. A started process
// writes in its own time; this only waits for it, it measures nothing.
inline std::string WaitForLines(const std::string& path, std::size_t lines) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    const std::string contents = ReadFile(path);
    std::size_t count = 0;
    for (const char c : contents) count += c == '\n';
    if (count >= lines || std::chrono::steady_clock::now() > deadline) return contents;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace quillbeck::testing
