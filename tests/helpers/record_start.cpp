// record_start: a stand-in for the programs Quillbeck starts, telling a test
// that (and how) it was started.
//
//   record_start <record-file> [args...]
//       appends "<args joined by blanks>\n", or "started\n" without args.
//   record_start <record-file> --wait-while <file>
//       appends "waiting\n", then runs until <file> is gone (at most a
//       minute), so a test has a live child for as long as it needs one.
//   record_start <record-file> --report-fds          (Linux only)
//       appends what the child inherited: "fds <numbers>", one line
//       "<SIGNAL> default|ignored|handled" each for SIGTERM, SIGINT and
//       SIGPIPE, and "blocked <signal numbers>|none".
//
// Several copies may append at once (one per file of a tick). On Linux the
// append mode is atomic; the Windows C library only seeks to the end before
// writing, so two copies could write over each other's line. There the file
// is opened append-only and shared with readers only, waiting while another
// copy holds it.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#endif

namespace {

#ifndef _WIN32
// Report() describes the descriptors, dispositions and mask this process
// started with; called before the record file is opened.
std::string Report() {
  std::string report = "fds";
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      if (atoi(entry->d_name) == dirfd(dir)) continue;
      report += std::string(" ") + entry->d_name;
    }
    closedir(dir);
  }
  report += "\n";
  const struct {
    int number;
    const char* name;
  } signals[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGPIPE, "SIGPIPE"}};
  for (const auto& signal : signals) {
    struct sigaction action {};
    sigaction(signal.number, nullptr, &action);
    const char* disposition = action.sa_handler == SIG_DFL   ? "default"
                              : action.sa_handler == SIG_IGN ? "ignored"
                                                             : "handled";
    report += std::string(signal.name) + " " + disposition + "\n";
  }
  sigset_t blocked;
  sigprocmask(SIG_BLOCK, nullptr, &blocked);
  std::string numbers;
  for (int number = 1; number < NSIG; ++number) {
    if (sigismember(&blocked, number) == 1) numbers += " " + std::to_string(number);
  }
  report += "blocked" + (numbers.empty() ? std::string(" none") : numbers) + "\n";
  return report;
}
#endif

// Append() adds `record` at the end of the file `path`; false if it could not.
bool Append(const char* path, const std::string& record) {
#ifdef _WIN32
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  HANDLE file;
  while ((file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr)) == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_SHARING_VIOLATION || std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  DWORD written = 0;
  const bool whole =
      WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) &&
      written == record.size();
  return CloseHandle(file) && whole;
#else
  std::ofstream out(path, std::ios::app | std::ios::binary);
  out << record;
  return static_cast<bool>(out.flush());
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string first = argc > 2 ? argv[2] : "";
  std::string record;
#ifndef _WIN32
  if (first == "--report-fds") record = Report();
#endif
  const bool wait = first == "--wait-while" && argc > 3;
  if (wait) {
    record = "waiting\n";
  } else if (record.empty()) {
    for (int i = 2; i < argc; ++i) record += (i > 2 ? " " : "") + std::string(argv[i]);
    record = (argc > 2 ? record : "started") + "\n";
  }
  if (!Append(argv[1], record)) return 1;
  if (wait) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    std::error_code ignored;
    while (std::filesystem::exists(argv[3], ignored) && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return 0;
}
