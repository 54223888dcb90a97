// The watch cycle over real folders and real started processes.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "core_fixture.h"
#include "support/forwarding_file_system.h"
#include "support/gate_file_system.h"
#include "watch/watch_cycle.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quillbeck::testing {
namespace {

// RecordedLines() waits, boundedly, until the record holds `count` lines:
// started commands run on their own and write a moment later.
std::vector<std::string> RecordedLines(const std::string& path, std::size_t count) {
  const std::string bytes = WaitForLines(path, count);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(bytes.substr(start, end - start));
  return lines;
}

class WatchTest : public CoreTest {
 protected:
  void SetUp() override {
    form.Form_Load();
    window.boxes.clear();
  }
  std::string Watched(const std::string& name) {
    const std::string folder = data.Make(name);
    data.Make(name + PathSeparator() + "Temp");
    return folder;
  }
  std::string In(const std::string& folder, const std::string& name) const {
    return folder + PathSeparator() + name;
  }
  std::string TempOf(const std::string& folder, const std::string& name) const {
    return folder + PathSeparator() + "Temp" + PathSeparator() + name;
  }
  std::string record = data.Join("record.txt");
};

TEST(PickupPatternTest, MatchesTheUpperCasedLastFourCharacters) {
  for (const char* name : {"A.GDT", "a.gdt", "b.Gdt", ".gdt", "x.y.GdT"})
    EXPECT_TRUE(IsPickedUp(name)) << name;
  for (const char* name : {"a.gdt.bak", "a.gdtx", "agdt", "GDT", "", ".gd", "a.gd t", "a_gdt"})
    EXPECT_FALSE(IsPickedUp(name)) << name;
}

TEST_F(WatchTest, MovesMatchingFilesOnlyAndNeverLooksIntoSubfolders) {
  const std::string folder = Watched("w");
  window.folder[1] = folder;
  window.shell[1] = Command(record, "slot1");
  for (const char* name : {"A.GDT", "b.Gdt", ".gdt", "a.gdt.bak", "a.gdtx", "agdt", "GDT"})
    WriteFile(In(folder, name), name);
  data.Make(std::string("w") + PathSeparator() + "X.GDT");
  WriteFile(TempOf(folder, "old.GDT"), "already handled");
  data.Make(std::string("w") + PathSeparator() + "sub");
  WriteFile(In(folder, std::string("sub") + PathSeparator() + "deep.GDT"), "deep");

  form.tmrWork_Timer();

  for (const char* name : {"A.GDT", "b.Gdt", ".gdt"}) {
    EXPECT_FALSE(Exists(In(folder, name))) << name;
    EXPECT_EQ(ReadFile(TempOf(folder, name)), name);
  }
  for (const char* name : {"a.gdt.bak", "a.gdtx", "agdt", "GDT"}) {
    EXPECT_TRUE(Exists(In(folder, name))) << name;
    EXPECT_FALSE(Exists(TempOf(folder, name))) << name;
  }
  EXPECT_TRUE(fs->FolderExists(In(folder, "X.GDT")));
  EXPECT_TRUE(Exists(In(folder, std::string("sub") + PathSeparator() + "deep.GDT")));
  EXPECT_EQ(ReadFile(TempOf(folder, "old.GDT")), "already handled");
  EXPECT_EQ(RecordedLines(record, 3).size(), 3u);
  EXPECT_TRUE(window.boxes.empty());
}

TEST_F(WatchTest, TracesEachStepOfEachFileInOrder) {
  const std::string folder = Watched("w");
  window.folder[2] = folder;
  window.shell[2] = Command(record, "two");
  WriteFile(In(folder, "one.GDT"), "1");
  form.global().bDebug = true;

  form.tmrWork_Timer();

  const std::string sep = PathSeparator();
  EXPECT_EQ(Traced(), (std::vector<std::string>{
                          "Timer started", "Check folder: " + folder, "File: one.GDT",
                          "Copy one.GDT in " + folder + sep + "Temp" + sep,
                          "Delete " + In(folder, "one.GDT"), "Shell " + window.shell[2], "Done"}));
}

TEST_F(WatchTest, WritesNothingToTheDebugLogWhileDebugIsOff) {
  const std::string folder = Watched("w");
  window.folder[1] = folder;
  window.shell[1] = Command(record, "x");
  WriteFile(In(folder, "f.GDT"), "f");
  form.tmrWork_Timer();
  EXPECT_FALSE(Exists(LogPath("Debug.log")));
  EXPECT_EQ(RecordedLines(record, 1).size(), 1u);
}

TEST_F(WatchTest, StartsTheCommandOncePerFileAfterItsCopyAndDelete) {
  const std::string folder = Watched("w");
  window.folder[1] = folder;
  window.shell[1] = Command(record, "started");
  for (const char* name : {"1.GDT", "2.GDT", "3.GDT"}) WriteFile(In(folder, name), name);
  form.global().bDebug = true;

  form.tmrWork_Timer();

  std::vector<std::string> steps;
  for (const std::string& line : Traced())
    if (line.rfind("Copy ", 0) == 0 || line.rfind("Delete ", 0) == 0 ||
        line.rfind("Shell ", 0) == 0)
      steps.push_back(line.substr(0, line.find(' ')));
  EXPECT_EQ(steps, (std::vector<std::string>{"Copy", "Delete", "Shell", "Copy", "Delete", "Shell",
                                             "Copy", "Delete", "Shell"}));
  EXPECT_EQ(RecordedLines(record, 3), (std::vector<std::string>(3, "started")));
}

TEST_F(WatchTest, LowerSlotTakesEveryFileOfAFolderTwoSlotsShare) {
  const std::string folder = Watched("shared");
  window.folder[1] = folder;
  window.shell[1] = Command(record, "low");
  window.folder[4] = folder;
  window.shell[4] = Command(record, "high");
  WriteFile(In(folder, "a.GDT"), "a");
  WriteFile(In(folder, "b.GDT"), "b");

  form.tmrWork_Timer();

  EXPECT_EQ(RecordedLines(record, 2), (std::vector<std::string>{"low", "low"}));
}

TEST_F(WatchTest, FolderTextEndingInTheSeparatorIsPassedOnUnchanged) {
  const std::string folder = Watched("w");
  window.folder[1] = folder + PathSeparator();
  window.shell[1] = Command(record, "x");
  WriteFile(In(folder, "f.GDT"), "f");
  form.global().bDebug = true;

  form.tmrWork_Timer();

  const std::string sep = PathSeparator();
  EXPECT_EQ(Traced().at(3), "Copy f.GDT in " + folder + sep + sep + "Temp" + sep);
  EXPECT_EQ(ReadFile(TempOf(folder, "f.GDT")), "f");
}

TEST_F(WatchTest, ReplacesAFileOfTheSameNameInTempEvenWhenReadOnly) {
  const std::string folder = Watched("w");
  window.folder[1] = folder;
  window.shell[1] = Command(record, "x");
  WriteFile(TempOf(folder, "same.GDT"), "old");
  std::filesystem::permissions(TempOf(folder, "same.GDT"), std::filesystem::perms::owner_read);
  WriteFile(In(folder, "same.GDT"), "new");
  std::filesystem::permissions(In(folder, "same.GDT"), std::filesystem::perms::owner_read);

  form.tmrWork_Timer();

  EXPECT_TRUE(window.boxes.empty()) << (window.boxes.empty() ? "" : window.boxes[0].text);
  EXPECT_EQ(ReadFile(TempOf(folder, "same.GDT")), "new");
  EXPECT_FALSE(Exists(In(folder, "same.GDT"))) << "a read-only file is deleted as well";
}

// A slot that fails at every tick ends only its own turn: the next slot's
// files move in the same tick, and each tick's failure is logged once.
struct LastingFailure {
  const char* name;
  bool temp;            // the folder has its Temp
  const char* command;  // slot 1's command
};

class LastingFailureTest : public WatchTest,
                           public ::testing::WithParamInterface<LastingFailure> {};

TEST_P(LastingFailureTest, HoldsOnlyItsOwnSlotTickAfterTick) {
  const std::string stuck = GetParam().temp ? Watched("stuck") : data.Make("stuck");
  const std::string later = Watched("later");
  window.folder[1] = stuck;
  window.shell[1] = GetParam().command;
  window.folder[2] = later;
  window.shell[2] = Command(record, "later");
  WriteFile(In(stuck, "stuck.GDT"), "stuck");
  // Ticks go on while the first box is open; they log but show no box.
  window.while_box_open = [&] { form.tmrWork_Timer(); };

  for (int tick = 1; tick <= 3; ++tick) {
    const std::string name = std::to_string(tick) + ".GDT";
    WriteFile(In(later, name), name);
    form.tmrWork_Timer();
    EXPECT_EQ(ReadFile(TempOf(later, name)), name) << "tick " << tick;
  }

  EXPECT_EQ(window.boxes.size(), 3u);
  ASSERT_EQ(ErrorLines().size(), 4u);
  for (const std::string& line : ErrorLines())
    EXPECT_NE(line.find(" - tmrWork_Timer"), std::string::npos) << line;
  EXPECT_EQ(ReadFile(In(stuck, "stuck.GDT")), "stuck");
  EXPECT_TRUE(window.timer_enabled);
  // No partial copy is left where Temp would be, nor a stray temporary file.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(stuck),
                          std::filesystem::directory_iterator()),
            GetParam().temp ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(Failures, LastingFailureTest,
                         ::testing::Values(LastingFailure{"NoTemp", false, "true"},
                                           LastingFailure{"EmptyCommand", true, ""}
#ifndef _WIN32
                                           ,
                                           LastingFailure{"UnclosedQuote", true, "'unclosed"}
#endif
                                           ),
                         [](const auto& info) { return std::string(info.param.name); });

// Another copy of the program (another machine, another session) takes
// each file at the step named, as on a folder that two of them watch.
struct TakenBySomeoneElse : ForwardingFileSystem {
  using ForwardingFileSystem::ForwardingFileSystem;
  bool at_copy = true;  // else right before the delete
  CopyResult CopyFile(const std::string& from, const std::string& to, bool overwrite) override {
    if (at_copy) std::filesystem::remove(from);
    return ForwardingFileSystem::CopyFile(from, to, overwrite);
  }
  bool DeleteCopiedFile(const std::string& path, const FileStamp& copied) override {
    if (!at_copy) std::filesystem::remove(path);
    return ForwardingFileSystem::DeleteCopiedFile(path, copied);
  }
};

class GoneTest : public WatchTest, public ::testing::WithParamInterface<bool> {};

TEST_P(GoneTest, AFileSomeoneElseTookIsNoErrorAndStartsNothing) {
  TakenBySomeoneElse taking(*fs);
  taking.at_copy = GetParam();
  Platform platform_taken{taking,      *profile,        *launcher,      clock,
                          time_stamps, single_instance, install.Path(), install.Path()};
  frmMain taken_form(platform_taken, window);
  taken_form.watch().folder_work_wait = form.watch().folder_work_wait;  // the whole tick, as ever
  const std::string folder = Watched("w");
  window.folder[1] = folder;
  window.shell[1] = Command(record, "never");
  WriteFile(In(folder, "a.GDT"), "a");
  taken_form.global().bDebug = true;

  taken_form.tmrWork_Timer();

  const std::string sep = PathSeparator();
  std::vector<std::string> expected = {"Timer started", "Check folder: " + folder, "File: a.GDT",
                                       "Copy a.GDT in " + folder + sep + "Temp" + sep};
  if (!GetParam()) expected.push_back("Delete " + In(folder, "a.GDT"));
  expected.push_back("Gone: a.GDT");
  EXPECT_EQ(Traced(), expected) << "no start for a file someone else took";
  EXPECT_TRUE(window.boxes.empty());
  EXPECT_FALSE(Exists(LogPath("Error.log")));
  EXPECT_EQ(Exists(TempOf(folder, "a.GDT")), !GetParam()) << "a gone source's copy is dropped";
}

INSTANTIATE_TEST_SUITE_P(Steps, GoneTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "AtCopy" : "AtDelete"; });

TEST_F(WatchTest, UnstartableCommandCostsAFileOnlyWhenNotSeenBefore) {
  // A command seen not to start keeps every file where it is; one whose
  // program is missing is found only when started, after one file moved.
  struct Row {
    const char* command;
    int moved;
  };
  std::vector<Row> rows = {{"", 0}, {"   ", 0}, {"quillbeck-no-such-program-anywhere", 1}};
#ifndef _WIN32
  rows.push_back({"'unclosed quote", 0});
#endif
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    window.boxes.clear();
    const std::string folder = Watched(std::string("w") + std::to_string(std::strlen(row.command)));
    window.folder[1] = folder;
    window.shell[1] = row.command;
    WriteFile(In(folder, "a.GDT"), "a");
    WriteFile(In(folder, "b.GDT"), "b");

    form.tmrWork_Timer();

    const int moved = Exists(TempOf(folder, "a.GDT")) + Exists(TempOf(folder, "b.GDT"));
    const int left = Exists(In(folder, "a.GDT")) + Exists(In(folder, "b.GDT"));
    EXPECT_EQ(moved, row.moved);
    EXPECT_EQ(left, 2 - row.moved);
    EXPECT_EQ(window.boxes.size(), 1u);
  }
}

// A folder that stops answering in the middle of its slot's work holds
// neither the window, for longer than the tick's wait, nor the other slots,
// nor its own slot once pointed elsewhere; a slot of the same folder sits
// the ticks out until it answers, and its work then ends as it always
// does, its failure reaching the trap at once, also while stopped.
TEST_F(WatchTest, AFrozenFolderHoldsOnlyItsOwnWork) {
  GateFileSystem gate(*fs);
  Platform gated{gate,        *profile,        *launcher,      clock,
                 time_stamps, single_instance, install.Path(), install.Path()};
  frmMain gated_form(gated, window);
  const struct OpenAtEnd {
    GateFileSystem& gate;
    ~OpenAtEnd() { gate.Open(); }
  } open_at_end{gate};
  const std::string frozen = data.Make("frozen");  // no Temp: its copy fails
  const std::string local = Watched("local");
  gate.gated_folder = frozen;
  window.folder[1] = frozen;
  window.shell[1] = Command(record, "frozen");
  window.folder[2] = local;
  window.shell[2] = Command(record, "local");
  // The same folder under other spellings: sat out, not worked twice.
  window.folder[3] = frozen + PathSeparator();
  window.folder[4] = frozen + PathSeparator() + ".";
#ifndef _WIN32
  std::filesystem::create_directory_symlink(frozen, data.Join("link-to-frozen"));
  window.folder[5] = data.Join("link-to-frozen");
#endif
  for (int slot = 3; slot <= 5; ++slot) window.shell[slot] = Command(record, "same folder");
  WriteFile(In(frozen, "f.GDT"), "f");

  WriteFile(In(local, "1.GDT"), "1");
  const SlotRunner::Clock::time_point began = SlotRunner::Clock::now();
  gated_form.tmrWork_Timer();
  EXPECT_LT(gated_form.watch().runner.LastDeadline(), began + 2 * kFolderWorkWait);
  EXPECT_EQ(RecordedLines(record, 1), std::vector<std::string>{"local"});
  const std::string elsewhere = Watched("elsewhere");
  window.folder[1] = elsewhere;
  WriteFile(In(elsewhere, "e.GDT"), "e");
  WriteFile(In(local, "2.GDT"), "2");
  gated_form.tmrWork_Timer();
  std::vector<std::string> started = RecordedLines(record, 3);
  std::sort(started.begin(), started.end());
  EXPECT_EQ(started, (std::vector<std::string>{"frozen", "local", "local"}));
  EXPECT_EQ(gate.gated_listings, 1) << "work of a busy folder sits the tick out";
  EXPECT_TRUE(window.boxes.empty());

  gated_form.cmdStart_Click();
  ASSERT_FALSE(window.timer_enabled);
  gate.Open();
  gated_form.watch().runner.WaitIdle();
  EXPECT_EQ(window.RunPosted(), 1) << "the window's thread is woken for the late failure";
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_NE(ErrorLines().at(0).find(" - tmrWork_Timer"), std::string::npos);
  EXPECT_EQ(ReadFile(In(frozen, "f.GDT")), "f");
}

TEST_F(WatchTest, SkipsEmptyMissingAndFileFolderTextsWithoutError) {
  WriteFile(data.Join("plain-file"), "x");
  window.folder[1] = "";
  window.folder[2] = data.Join("missing");
  window.folder[3] = data.Join("plain-file");
  const std::string folder = Watched("ok");
  window.folder[5] = folder;
  window.shell[5] = Command(record, "five");
  WriteFile(In(folder, "f.GDT"), "f");
  form.global().bDebug = true;

  form.tmrWork_Timer();

  EXPECT_TRUE(window.boxes.empty());
  EXPECT_EQ(Traced().at(1), "Check folder: " + folder);
  EXPECT_EQ(RecordedLines(record, 1), (std::vector<std::string>{"five"}));
}

TEST_F(WatchTest, StoppedServiceLeavesFilesUntilStartedAgain) {
  const std::string folder = Watched("w");
  window.folder[1] = folder;
  window.shell[1] = Command(record, "x");
  form.cmdStart_Click();
  ASSERT_FALSE(window.timer_enabled);
  WriteFile(In(folder, "f.GDT"), "f");
  // The front end delivers no tick while the timer is off; starting again
  // lets the next tick take the file.
  form.cmdStart_Click();
  ASSERT_TRUE(window.timer_enabled);
  form.tmrWork_Timer();
  EXPECT_TRUE(Exists(TempOf(folder, "f.GDT")));
}

#ifndef _WIN32
// On Linux deleting an open file always succeeds, so a file still held open
// for writing by another process must count as locked; on Windows the
// writer's share mode refuses the copy by itself.
TEST_F(WatchTest, FileStillBeingWrittenArrivesWholeOnceItsWriterCloses) {
  const std::string folder = Watched("w");
  window.folder[1] = folder;
  window.shell[1] = Command(record, "once");
  const std::string path = In(folder, "slow.GDT");
  std::string expected;
  for (int i = 0; i < 20; ++i) expected += "chunk" + std::to_string(i) + ";";

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    (void)!write(ready[1], "r", 1);
    for (int i = 0; i < 20; ++i) {
      const std::string chunk = "chunk" + std::to_string(i) + ";";
      (void)!write(fd, chunk.data(), chunk.size());
      usleep(100000);
    }
    close(fd);
    _exit(0);
  }
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);

  int ticks_refused = 0;
  bool writer_done = false;
  for (int i = 0; i < 100 && !Exists(TempOf(folder, "slow.GDT")); ++i) {
    const std::size_t boxes_before = window.boxes.size();
    if (!writer_done) writer_done = waitpid(writer, nullptr, WNOHANG) == writer;
    form.tmrWork_Timer();
    if (window.boxes.size() > boxes_before) {
      ++ticks_refused;
      EXPECT_TRUE(Exists(path)) << "a refused file stays where its writer put it";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!writer_done) waitpid(writer, nullptr, 0);
  close(ready[0]);
  close(ready[1]);

  EXPECT_GT(ticks_refused, 0);
  EXPECT_EQ(ReadFile(TempOf(folder, "slow.GDT")), expected);
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(RecordedLines(record, 1), (std::vector<std::string>{"once"}));
}

TEST_F(WatchTest, SymbolicLinkNamedLikeAPickupIsLeftAlone) {
  const std::string folder = Watched("w");
  window.folder[1] = folder;
  window.shell[1] = Command(record, "x");
  WriteFile(data.Join("secret"), "not for the dropper");
  std::filesystem::create_symlink(data.Join("secret"), In(folder, "link.GDT"));

  form.tmrWork_Timer();

  EXPECT_TRUE(std::filesystem::is_symlink(In(folder, "link.GDT")));
  EXPECT_FALSE(Exists(TempOf(folder, "link.GDT")));
  EXPECT_TRUE(window.boxes.empty());
}
#endif

}  // namespace
}  // namespace quillbeck::testing
