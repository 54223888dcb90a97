// The process launcher with real programs: what it starts, what it refuses,
// and what a started child inherits.
#include "platform/process_launcher.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/runtime_error.h"
#include "support/child_process.h"
#include "support/started_process.h"
#include "support/temp_folder.h"

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#endif

namespace quillbeck {
namespace {

using testing::Quoted;
using testing::RecordStartProgram;
using testing::WaitForLines;

class ProcessLauncherTest : public ::testing::Test {
 protected:
  // Start() launches record_start writing into the record file.
  void Start(const std::string& arguments) {
    launcher_->Launch(Quoted(RecordStartProgram()) + " " + Quoted(record_) + arguments);
  }

  testing::TempFolder folder_;
  std::string record_ = folder_.Join("record.txt");
  std::unique_ptr<ProcessLauncher> launcher_ = NewProcessLauncher();
};

TEST_F(ProcessLauncherTest, StartsTheProgramWithItsArguments) {
  Start(" hello world");
  EXPECT_EQ(WaitForLines(record_, 1), "hello world\n");
}

TEST_F(ProcessLauncherTest, CommandWithoutProgramRaises) {
  for (const char* command : {"", "   ", "\t"}) {
    EXPECT_THROW(launcher_->Launch(command), RuntimeError) << "[" << command << "]";
  }
}

TEST_F(ProcessLauncherTest, UnknownProgramRaises) {
  EXPECT_THROW(launcher_->Launch("quillbeck-no-such-program-4711 x"), RuntimeError);
  EXPECT_THROW(launcher_->Launch(Quoted(folder_.Join("missing-program"))), RuntimeError);
}

#ifndef _WIN32
// The Linux launch splits the text itself and starts the child with
// posix_spawnp; Windows hands the text to CreateProcessW.

TEST_F(ProcessLauncherTest, FailuresCarryTheSystemsNumber) {
  try {
    launcher_->Launch("quillbeck-no-such-program-4711");
    ADD_FAILURE() << "started";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.Number(), ENOENT);
    EXPECT_NE(error.Description().find("quillbeck-no-such-program-4711"), std::string::npos);
  }
  testing::WriteFile(folder_.Join("plain.txt"), "not a program");
  try {
    launcher_->Launch(folder_.Join("plain.txt"));
    ADD_FAILURE() << "started";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.Number(), EACCES);
  }
  EXPECT_THROW(launcher_->Launch("prog 'unterminated"), RuntimeError);
}

TEST_F(ProcessLauncherTest, ChildInheritsNoDescriptorAndDefaultSignals) {
  // A descriptor opened without close-on-exec, signals ignored and blocked
  // here: none of it may reach the child.
  const int leaked = open("/dev/null", O_RDONLY);
  ASSERT_GE(leaked, 3);
  struct sigaction ignore {
  }, old_term{}, old_int{}, old_pipe{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGTERM, &ignore, &old_term);
  sigaction(SIGINT, &ignore, &old_int);
  sigaction(SIGPIPE, &ignore, &old_pipe);
  sigset_t block, old_mask;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  sigaddset(&block, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &block, &old_mask);

  Start(" --report-fds");

  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGPIPE, &old_pipe, nullptr);
  close(leaked);

  const std::string report = WaitForLines(record_, 5);
  const std::string fds = report.substr(0, report.find('\n'));
  ASSERT_EQ(fds.rfind("fds", 0), 0u) << report;
  std::istringstream numbers(fds.substr(3));
  for (int fd; numbers >> fd;) EXPECT_LT(fd, 3) << report;
  EXPECT_NE(report.find("SIGTERM default\nSIGINT default\nSIGPIPE default\nblocked none\n"),
            std::string::npos)
      << report;
}

struct Children {
  int all = 0;
  int zombies = 0;
};

// ChildrenOfThisProcess() counts the children of this process, and among
// them those that have ended but were not reaped.
Children ChildrenOfThisProcess() {
  Children children;
  DIR* proc = opendir("/proc");
  while (const dirent* entry = proc ? readdir(proc) : nullptr) {
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid ...; comm may hold blanks and parentheses.
    std::istringstream rest(line.substr(line.rfind(')') + 1));
    char state = 0;
    long parent = 0;
    rest >> state >> parent;
    if (parent != getpid()) continue;
    ++children.all;
    children.zombies += state == 'Z';
  }
  if (proc) closedir(proc);
  return children;
}

TEST_F(ProcessLauncherTest, EndedChildrenAreReapedAndOthersLeftAlone) {
  // A child of the test's own: the launcher must not reap it.
  testing::ChildProcess own([] { return 7; });
  for (int i = 0; i < 30; ++i) Start("");
  WaitForLines(record_, 30);
  // Each child is reaped the moment it ends, with no further launch. Wait
  // until every launched child has ended (a deadline, not a measurement):
  // then only our own child is left, unreaped.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ChildrenOfThisProcess().all != 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const Children left = ChildrenOfThisProcess();
  EXPECT_EQ(left.all, 1);
  EXPECT_EQ(left.zombies, 1);
  ASSERT_TRUE(own.Wait());
  EXPECT_EQ(own.ExitStatus(), 7);
}

// ThreadCount() is how many threads this process has.
int ThreadCount() {
  int count = 0;
  DIR* tasks = opendir("/proc/self/task");
  while (const dirent* entry = tasks ? readdir(tasks) : nullptr) count += entry->d_name[0] != '.';
  if (tasks) closedir(tasks);
  return count;
}

// WaitForChildren() waits until this process has `count` children (a
// deadline, not a measurement) and tells what it has then.
Children WaitForChildren(int count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ChildrenOfThisProcess().all != count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ChildrenOfThisProcess();
}

TEST_F(ProcessLauncherTest, CommandsThatStayOpenCostNoThread) {
  const std::string running = folder_.Join("running");
  testing::WriteFile(running, "");
  testing::ChildProcess own([] { return 7; });
  // The first launch may set up what every later one uses.
  Start(" --wait-while " + Quoted(running));
  ASSERT_EQ(WaitForLines(record_, 1), "waiting\n");
  const int threads = ThreadCount();
  constexpr int kCommands = 200;
  for (int i = 0; i < kCommands; ++i) Start(" --wait-while " + Quoted(running));
  WaitForLines(record_, 1 + kCommands);
  EXPECT_EQ(ThreadCount(), threads) << "with " << 1 + kCommands << " commands running";
  EXPECT_EQ(ChildrenOfThisProcess().all, 1 + kCommands + 1);

  std::remove(running.c_str());
  const Children left = WaitForChildren(1);
  EXPECT_EQ(left.all, 1) << "children of ours left unreaped";
  EXPECT_EQ(left.zombies, 1);
  EXPECT_EQ(ThreadCount(), threads);
  ASSERT_TRUE(own.Wait()) << "our own child was reaped by the launcher";
  EXPECT_EQ(own.ExitStatus(), 7);
}

// A child forked meanwhile holds copies of the launcher's descriptors for a
// while (as a child being spawned does until its exec): a child that ends is
// still reaped at once while a later one runs on.
TEST_F(ProcessLauncherTest, EndedChildIsReapedWhileAnotherRunsOn) {
  const std::string first = folder_.Join("first");
  const std::string second = folder_.Join("second");
  testing::WriteFile(first, "");
  testing::WriteFile(second, "");
  Start(" --wait-while " + Quoted(first));
  WaitForLines(record_, 1);
  testing::ChildProcess own(
      [](const testing::ChildProcess::Side& child) { return child.WaitForRelease() ? 7 : 8; });
  std::remove(first.c_str());
  EXPECT_EQ(WaitForChildren(1).all, 1);
  Start(" --wait-while " + Quoted(second));
  Start(" short");
  WaitForLines(record_, 3);
  const Children meanwhile = WaitForChildren(2);
  EXPECT_EQ(meanwhile.all, 2) << "an ended child waits for one that runs on";
  EXPECT_EQ(meanwhile.zombies, 0);
  std::remove(second.c_str());
  own.Release();
  ASSERT_TRUE(own.Wait());
  EXPECT_EQ(own.ExitStatus(), 7);
  EXPECT_EQ(WaitForChildren(0).all, 0);
}

// With no descriptor to spare (so no pidfd can be had), a child is still
// reaped when it ends.
TEST_F(ProcessLauncherTest, ChildIsReapedWithoutADescriptorToSpare) {
  Start(" first");
  WaitForLines(record_, 1);
  WaitForChildren(0);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  const int lowest_free = dup(0);
  ASSERT_GE(lowest_free, 0);
  close(lowest_free);
  rlimit none = old;
  none.rlim_cur = static_cast<rlim_t>(lowest_free);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  const int probe = dup(0);
  Start(" second");
  setrlimit(RLIMIT_NOFILE, &old);
  ASSERT_LT(probe, 0) << "a descriptor could still be opened";
  EXPECT_EQ(WaitForLines(record_, 2), "first\nsecond\n");
  const Children left = WaitForChildren(0);
  EXPECT_EQ(left.all, 0);
  EXPECT_EQ(left.zombies, 0);
}
#endif

}  // namespace
}  // namespace quillbeck
