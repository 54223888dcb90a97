// The small system services: the executable folder, the time stamp, the
// single-instance lock and the system log.
#include "platform/system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/process_launcher.h"
#include "platform/system_log.h"
#include "support/started_process.h"
#include "support/temp_folder.h"

#ifndef _WIN32
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace quillbeck {
namespace {

TEST(ExecutableFolder, IsTheFolderOfThisProgram) {
  const std::string folder = ExecutableFolder();
#ifdef _WIN32
  const std::string name = "platform_tests.exe";
#else
  const std::string name = "platform_tests";
#endif
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), PathSeparator()[0]);
  EXPECT_TRUE(NewFileSystem()->FileExists(folder + PathSeparator() + name)) << folder;
}

TEST(ProgramFileFolders, AreWhereThisBuildKeepsItsFiles) {
#ifdef QUILLBECK_INSTALLED_LAYOUT
  // The package build: the user's XDG folders, made at once.
  testing::TempFolder home;
  const std::optional<std::string> saved_home =
      getenv("HOME") != nullptr ? std::optional<std::string>(getenv("HOME")) : std::nullopt;
  setenv("HOME", home.Path().c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("XDG_STATE_HOME");
  const FileFolders folders = ProgramFileFolders();
  if (saved_home) setenv("HOME", saved_home->c_str(), 1);
  EXPECT_EQ(folders.settings, home.Join(".config/quillbeck"));
  EXPECT_EQ(folders.log_parent, home.Join(".local/state/quillbeck"));
  EXPECT_TRUE(std::filesystem::is_directory(folders.settings));
  EXPECT_TRUE(std::filesystem::is_directory(folders.log_parent));
#else
  // Every other build keeps both beside the executable.
  const FileFolders folders = ProgramFileFolders();
  EXPECT_EQ(folders.settings, ExecutableFolder());
  EXPECT_EQ(folders.log_parent, ExecutableFolder());
#endif
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  time.tm_isdst = -1;
  return std::mktime(&time);
}

TEST(TimeStampFormat, IsTheDateAndTheTimeButTheDateAloneAtMidnight) {
  const auto format = NewTimeStampFormat();
  auto FormatTimeStamp = [&](std::time_t t) { return format->Format(t); };
  // Mid-June: no clock change at midnight anywhere near.
  const std::string midnight = FormatTimeStamp(LocalTime(2021, 6, 15, 0, 0, 0));
  const std::string second = FormatTimeStamp(LocalTime(2021, 6, 15, 0, 0, 1));
  const std::string afternoon = FormatTimeStamp(LocalTime(2021, 6, 15, 13, 47, 38));
  const std::string next_day = FormatTimeStamp(LocalTime(2021, 6, 16, 0, 0, 0));
  ASSERT_FALSE(midnight.empty());
  for (const std::string& stamp : {second, afternoon}) {
    EXPECT_EQ(stamp.rfind(midnight + " ", 0), 0u) << stamp << " | " << midnight;
    EXPECT_GT(stamp.size(), midnight.size() + 1) << stamp;
  }
  EXPECT_NE(afternoon.find("47"), std::string::npos) << afternoon;
  EXPECT_NE(afternoon.find("38"), std::string::npos) << afternoon;
  EXPECT_NE(second, afternoon);
  EXPECT_NE(next_day, midnight);
}

class SingleInstanceLockTest : public ::testing::Test {
 protected:
#ifndef _WIN32
  // Lock files go to this test's own folder, not the user's runtime folder.
  void SetUp() override {
    if (const char* old = getenv("XDG_RUNTIME_DIR")) saved_ = old;
    setenv("XDG_RUNTIME_DIR", runtime_.Path().c_str(), 1);
  }
  void TearDown() override {
    if (saved_) {
      setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
  }
  std::optional<std::string> saved_;
#endif
  std::unique_ptr<SingleInstanceLock> Acquire(const std::string& folder) {
    return single_instance_->Acquire(folder);
  }
  std::unique_ptr<SingleInstance> single_instance_ = NewSingleInstance();
  testing::TempFolder runtime_;
  testing::TempFolder program_;
};

TEST_F(SingleInstanceLockTest, SecondCopyOfTheSameFolderIsRefusedWhileTheFirstRuns) {
  auto first = Acquire(program_.Path());
  EXPECT_TRUE(first->Acquired());
  EXPECT_FALSE(Acquire(program_.Path())->Acquired());
  EXPECT_TRUE(Acquire(program_.Make("other"))->Acquired());
  first.reset();
  EXPECT_TRUE(Acquire(program_.Path())->Acquired());
}

#ifndef _WIN32
// The lock file and its folder are Linux's: Windows keeps the mark in a named
// mutex, which no started command can inherit, since none inherits handles.

// LockFiles() lists the files in the lock folder.
std::vector<std::string> LockFiles(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files.push_back(entry.path().string());
  }
  return files;
}

// LockDescriptor() is the number of this process's descriptor on `path`.
int LockDescriptor(const std::string& path) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ignored;
    if (std::filesystem::read_symlink(entry.path(), ignored) == path) {
      return std::stoi(entry.path().filename().string());
    }
  }
  return -1;
}

TEST_F(SingleInstanceLockTest, StartedCommandDoesNotInheritTheMark) {
  auto first = Acquire(program_.Path());
  ASSERT_TRUE(first->Acquired());
  const int lock_fd = LockDescriptor(LockFiles(runtime_.Path()).at(0));
  ASSERT_GE(lock_fd, 0);
  const std::string record = program_.Join("record.txt");
  NewProcessLauncher()->Launch(testing::Quoted(testing::RecordStartProgram()) + " " +
                               testing::Quoted(record) + " --report-fds");
  const std::string report = testing::WaitForLines(record, 5);
  const std::string fds = report.substr(0, report.find('\n'));
  ASSERT_EQ(fds.rfind("fds", 0), 0u) << report;
  EXPECT_EQ((" " + fds.substr(3) + " ").find(" " + std::to_string(lock_fd) + " "),
            std::string::npos)
      << "the child holds the lock's descriptor " << lock_fd << ": " << fds;
}

TEST_F(SingleInstanceLockTest, BrokenLockFolderNeverStopsTheService) {
  setenv("XDG_RUNTIME_DIR", runtime_.Join("missing").c_str(), 1);
  auto first = Acquire(program_.Path());
  EXPECT_TRUE(first->Acquired());
  EXPECT_TRUE(Acquire(program_.Path())->Acquired());
}

TEST_F(SingleInstanceLockTest, LockFileGoesWithItsHolder) {
  auto first = Acquire(program_.Path());
  ASSERT_EQ(LockFiles(runtime_.Path()).size(), 1u);
  // A refused second copy leaves the holder's file alone.
  EXPECT_FALSE(Acquire(program_.Path())->Acquired());
  ASSERT_EQ(LockFiles(runtime_.Path()).size(), 1u);
  first.reset();
  EXPECT_TRUE(LockFiles(runtime_.Path()).empty());
}

TEST_F(SingleInstanceLockTest, LockFileOfAnotherUserCountsForNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the file away";
  std::string lock_file;
  {
    auto ours = Acquire(program_.Path());
    ASSERT_EQ(LockFiles(runtime_.Path()).size(), 1u);
    lock_file = LockFiles(runtime_.Path())[0];
  }
  // Another user plants a file of that name and holds a lock on it.
  const int planted = open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(planted, 0);
  ASSERT_EQ(fchown(planted, 4242, 4242), 0);
  ASSERT_EQ(flock(planted, LOCK_EX | LOCK_NB), 0);
  EXPECT_TRUE(Acquire(program_.Path())->Acquired());
  EXPECT_TRUE(testing::Exists(lock_file));
  close(planted);
}
#endif

#ifdef _WIN32
// Read from Wine's "eventlog" channel by the ctest case SystemLogUnderWine.
TEST(SystemLog, ReportsAnErrorAndAnInformationEvent) {
  NewSystemLog()->Error("76 - Path not found - tmrWork_Timer");
  NewSystemLog()->Information("Program started");
}
#else
// A socket of the test's own in the place of /dev/log: read as the journal
// reads it, missing, or full (where a send that waited would hang).
enum class Receiver { kReading, kMissing, kFull };
class SystemLogTest : public ::testing::TestWithParam<Receiver> {};

TEST_P(SystemLogTest, SendsAsSyslogDoesAndNeverWaits) {
  const testing::TempFolder folder;
  sockaddr_un address{AF_UNIX, {}};
  folder.Join("log").copy(address.sun_path, sizeof address.sun_path - 1);
  const auto* to = reinterpret_cast<const sockaddr*>(&address);
  const int reader = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_TRUE(GetParam() == Receiver::kMissing || bind(reader, to, sizeof address) == 0) << errno;
  const int filler = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  while (GetParam() == Receiver::kFull &&
         sendto(filler, "x", 1, MSG_DONTWAIT, to, sizeof address) == 1) {
  }

  const auto log = NewSystemLog(folder.Join("log"));
  log->Error("76 - Path not found - tmrWork_Timer");
  log->Information("Program started");
  // A dropped file's name forges no entry; a long entry is cut, not lost,
  // within 8 KiB and before a whole character.
  log->Error("58 - File already exists: x\r\nFORGED-ENTRY - 0 - all is well - tmrWork_Timer\r\ny");
  // 32 K of "é" after texts one byte apart: one is cut inside a character.
  std::string e_32k;
  while (e_32k.size() < 32768) e_32k += "\xC3\xA9";
  for (const char* before : {"53 - ", "53 -  "}) log->Error(before + e_32k);

  const std::string header = R"([A-Z][a-z]{2} [ 1-3][0-9] \d\d:\d\d:\d\d quillbeck\[)" +
                             std::to_string(getpid()) + R"(\]: )";
  const std::vector<std::string> patterns = {
      "<11>" + header + "76 - Path not found - tmrWork_Timer", "<14>" + header + "Program started",
      "<11>" + header +
          R"(58 - File already exists: x\\r\\nFORGED-ENTRY - 0 - all is well - tmrWork_Timer\\r\\ny)"};
  char entry[65536];
  for (const std::string& pattern : patterns) {
    if (GetParam() != Receiver::kReading) break;
    const ssize_t size = recv(reader, entry, sizeof entry, MSG_DONTWAIT);
    EXPECT_TRUE(size > 0 && std::regex_match(std::string(entry, size), std::regex(pattern)))
        << std::string(entry, size > 0 ? size : 0);
  }
  for (const std::string before : {"]: 53 - ", "]: 53 -  "}) {
    if (GetParam() != Receiver::kReading) break;
    const std::size_t size = std::max<ssize_t>(recv(reader, entry, sizeof entry, MSG_DONTWAIT), 0);
    const std::string cut(entry, size);
    const std::size_t text = cut.find(before) + before.size(), kept = size - kCutMark.size();
    EXPECT_TRUE(size > 8000 && size <= 8192 && cut.ends_with(kCutMark) && (kept - text) % 2 == 0 &&
                cut.find_first_not_of("\xC3\xA9", text) == kept)
        << size << " bytes";
  }
  close(filler);
  close(reader);
}

INSTANTIATE_TEST_SUITE_P(Receivers, SystemLogTest,
                         ::testing::Values(Receiver::kReading, Receiver::kMissing,
                                           Receiver::kFull));
#endif

}  // namespace
}  // namespace quillbeck
