// The process launcher with real programs: what it starts, what it refuses,
// and what a started child inherits.
#include "platform/process_launcher.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/runtime_error.h"
#include "support/started_process.h"
#include "support/temp_folder.h"

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
  struct sigaction ignore {}, old_term {}, old_int {}, old_pipe {};
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
  const pid_t own = fork();
  if (own == 0) _exit(7);
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
  int status = 0;
  ASSERT_EQ(waitpid(own, &status, 0), own);
  EXPECT_EQ(WEXITSTATUS(status), 7);
}
#endif

}  // namespace
}  // namespace quillbeck
