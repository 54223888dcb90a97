// The file-system object on real folders: the existence tests, the folder
// walk and the copy, delete and move of the watch cycle and the log writers.
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/bounded_test.h"
#include "platform/runtime_error.h"
#include "platform/settling_files.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <cctype>

#include "platform/win32/temporary_copy.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "platform/posix/file_beside.h"
#include "platform/posix/listing.h"
#include "platform/posix/open_writers.h"
#endif

namespace quillbeck {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::WriteFile;

namespace fs = std::filesystem;

void MakeReadOnly(const std::string& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

std::size_t EntryCount(const std::string& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
  return count;
}

class FileSystemTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return folder_.Join(name); }
  std::string Below(const std::string& folder, const std::string& name) const {
    return folder + PathSeparator() + name;
  }

  testing::TempFolder folder_;
  std::unique_ptr<FileSystem> fs_ = NewFileSystem();
};

TEST_F(FileSystemTest, ExistenceTestsTellFoldersFromFiles) {
  const std::string file = Path("a.GDT");
  WriteFile(file, "x");
  EXPECT_TRUE(fs_->FolderExists(folder_.Path()));
  EXPECT_FALSE(fs_->FolderExists(""));
  EXPECT_FALSE(fs_->FolderExists(Path("missing")));
  EXPECT_FALSE(fs_->FolderExists(file));
  EXPECT_FALSE(fs_->FolderExists(Below(file, "below")));
  EXPECT_TRUE(fs_->FileExists(file));
  EXPECT_FALSE(fs_->FileExists(folder_.Path()));
  EXPECT_FALSE(fs_->FileExists(Path("missing")));
  EXPECT_FALSE(fs_->FileExists(""));
}

TEST_F(FileSystemTest, CreateFolderMakesOneLevelAndRaisesOnAnythingInTheWay) {
  fs_->CreateFolder(Path("Temp"));
  EXPECT_TRUE(fs_->FolderExists(Path("Temp")));
  WriteFile(Path("file"), "");
  for (const std::string& path : {Path("Temp"), Path("file"), Below(Path("no"), "deeper")}) {
    EXPECT_THROW(fs_->CreateFolder(path), RuntimeError) << path;
  }
}

// What a folder holds beside a subfolder "c.GDT" (with a file in it), and
// which of it Files() lists with a suffix: the files lying directly in the
// folder whose names end in it, in the order of the system's own walk.
struct Listing {
  const char* what;
  std::vector<std::string> files;
  int others;  // as many more files that do not match
  std::string suffix;
  std::vector<std::string> listed;      // in any order
  std::vector<std::string> links = {};  // symbolic links to a file "secret"
  int entry_type = -1;  // the type every entry is said to have (Linux), if not its own
};

class ListingTest : public FileSystemTest, public ::testing::WithParamInterface<Listing> {};

TEST_P(ListingTest, ListsTheMatchingFilesLyingDirectlyInTheFolder) {
  const Listing& c = GetParam();
  for (const std::string& name : c.files) WriteFile(Path(name), "1");
  for (int i = 0; i < c.others; ++i) WriteFile(Path("record" + std::to_string(i) + ".dat"), "");
  WriteFile(Below(folder_.Make("c.GDT"), "inner.GDT"), "3");
#ifndef _WIN32
  if (!c.links.empty()) WriteFile(Path("secret"), "not yours");
  for (const std::string& link : c.links) ASSERT_EQ(symlink("secret", Path(link).c_str()), 0);
#endif
  std::vector<std::string> walk;  // the system's order, kept to what is listed
  for (const auto& entry : fs::directory_iterator(folder_.Path())) {
    const std::string name = entry.path().filename().string();
    if (std::find(c.listed.begin(), c.listed.end(), name) != c.listed.end()) walk.push_back(name);
  }
  std::vector<std::string> names;
  if (c.entry_type < 0) {
    for (const FileEntry& file : fs_->Files(folder_.Path(), c.suffix)) {
      names.push_back(file.Name);
      EXPECT_EQ(file.Path, Path(file.Name));
    }
  }
#ifndef _WIN32
  else {
    // The listing's decision for each entry, told the entry's type.
    const int folder = open(folder_.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const auto& entry : fs::directory_iterator(folder_.Path())) {
      const std::string name = entry.path().filename().string();
      const auto type = static_cast<unsigned char>(c.entry_type);
      if (posix::Listed(folder, name.c_str(), type, c.suffix)) names.push_back(name);
    }
    close(folder);
  }
#endif
  EXPECT_EQ(names, walk);
  std::sort(names.begin(), names.end());
  std::vector<std::string> listed = c.listed;
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(names, listed);
  EXPECT_THROW(fs_->Files(Path("missing"), c.suffix), RuntimeError);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ListingTest,
    ::testing::Values(
        Listing{"EverythingWithAnEmptySuffix", {"a.GDT", "b.txt"}, 0, "", {"a.GDT", "b.txt"}},
        Listing{"TheSuffixInAnyCase",
                {"A.GDT", "d.gdt", "b.Gdt", ".gdt", "a.gdt.bak", "a.gdtx", "agdt", "GDT"},
                0,
                ".GDT",
                {"A.GDT", "d.gdt", "b.Gdt", ".gdt"}},
        Listing{"AFewAmongManyOthers",
                {"x1.GDT", "x2.gdt", "x3.GDT", "x4.GDT", "x5.Gdt"},
                2000,
                ".GDT",
                {"x1.GDT", "x2.gdt", "x3.GDT", "x4.GDT", "x5.Gdt"}}
#ifndef _WIN32
        ,
        // Some FUSE daemons and older XFS do not say what an entry is: a
        // link is still never followed, and a file still listed.
        Listing{
            "ALinkWhereTheTypeIsUnknown", {"a.GDT"}, 0, ".GDT", {"a.GDT"}, {"link.GDT"}, DT_UNKNOWN}
#endif
        ),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(FileSystemTest, SizeCountsBytes) {
  WriteFile(Path("empty"), "");
  WriteFile(Path("full"), std::string(1000001, 'x'));
  EXPECT_EQ(fs_->Size(Path("empty")), 0u);
  EXPECT_EQ(fs_->Size(Path("full")), 1000001u);
  EXPECT_THROW(fs_->Size(Path("missing")), RuntimeError);
}

TEST_F(FileSystemTest, MoveRenamesButNeverReplaces) {
  WriteFile(Path("a"), "a");
  WriteFile(Path("b"), "b");
  EXPECT_THROW(fs_->Move(Path("a"), Path("b")), RuntimeError);
  EXPECT_EQ(ReadFile(Path("a")), "a");
  EXPECT_EQ(ReadFile(Path("b")), "b");
  fs_->Move(Path("a"), Path("c"));
  EXPECT_FALSE(Exists(Path("a")));
  EXPECT_EQ(ReadFile(Path("c")), "a");
  EXPECT_THROW(fs_->Move(Path("a"), Path("d")), RuntimeError);
}

TEST_F(FileSystemTest, CopyKeepsEveryByteAndTheModificationTime) {
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) >> 3);
  WriteFile(Path("big.GDT"), bytes);
  const auto stamp = fs::last_write_time(Path("big.GDT")) - std::chrono::hours(50);
  fs::last_write_time(Path("big.GDT"), stamp);
  WriteFile(Path("empty.GDT"), "");
  const std::string temp = folder_.Make("Temp");

  fs_->CopyFile(Path("big.GDT"), Below(temp, "big.GDT"), true);
  fs_->CopyFile(Path("empty.GDT"), Below(temp, "empty.GDT"), true);
  EXPECT_EQ(ReadFile(Below(temp, "big.GDT")), bytes);
  EXPECT_EQ(fs::last_write_time(Below(temp, "big.GDT")), stamp);
  EXPECT_TRUE(Exists(Below(temp, "empty.GDT")));
  EXPECT_EQ(ReadFile(Path("big.GDT")), bytes);
  EXPECT_EQ(EntryCount(temp), 2u);
}

TEST_F(FileSystemTest, CopyReplacesEvenAReadOnlyDestination) {
  const std::string temp = folder_.Make("Temp");
  WriteFile(Path("x.GDT"), "new contents");
  WriteFile(Below(temp, "x.GDT"), "old");
  MakeReadOnly(Below(temp, "x.GDT"));
  fs_->CopyFile(Path("x.GDT"), Below(temp, "x.GDT"), true);
  EXPECT_EQ(ReadFile(Below(temp, "x.GDT")), "new contents");
  EXPECT_EQ(EntryCount(temp), 1u);
}

TEST_F(FileSystemTest, FailedCopyLeavesNothingBehind) {
  WriteFile(Path("x.GDT"), "data");
  // No Temp folder.
  EXPECT_THROW(fs_->CopyFile(Path("x.GDT"), Below(Path("Temp"), "x.GDT"), true), RuntimeError);
  EXPECT_EQ(EntryCount(folder_.Path()), 1u);
  // Without overwrite an existing destination stays.
  const std::string temp = folder_.Make("Temp");
  WriteFile(Below(temp, "x.GDT"), "old");
  EXPECT_THROW(fs_->CopyFile(Path("x.GDT"), Below(temp, "x.GDT"), false), RuntimeError);
  EXPECT_EQ(ReadFile(Below(temp, "x.GDT")), "old");
  // A folder in the destination's place: the copy is made, but cannot be
  // renamed into place.
  folder_.Make(Below("Temp", "d.GDT"));
  EXPECT_THROW(fs_->CopyFile(Path("x.GDT"), Below(temp, "d.GDT"), true), RuntimeError);
  EXPECT_EQ(EntryCount(temp), 2u);
  // A missing source was taken by someone else: no failure, nothing in Temp.
  EXPECT_EQ(fs_->CopyFile(Path("y.GDT"), Below(temp, "y.GDT"), true).outcome, CopyOutcome::kGone);
  EXPECT_EQ(EntryCount(temp), 2u);
  EXPECT_EQ(ReadFile(Path("x.GDT")), "data");
}

// Runs when a copy, written whole, would take its destination's name.
#ifdef _WIN32
std::function<void()>& before_put_in_place = win32::TemporaryCopy::before_put_in_place;
#else
std::function<void()>& before_put_in_place = posix::FileBeside::before_put_in_place;
#endif

// A source that someone else takes mid-copy is not put in Temp again: it may be handed on already.
TEST_F(FileSystemTest, SourceTakenDuringItsCopyIsNotPutInPlace) {
  const std::string temp = folder_.Make("Temp");
  WriteFile(Path("x.GDT"), "taken");
  struct Reset {
    ~Reset() { before_put_in_place = nullptr; }
  } reset;
  before_put_in_place = [&] { fs::remove(Path("x.GDT")); };
  EXPECT_EQ(fs_->CopyFile(Path("x.GDT"), Below(temp, "x.GDT"), true).outcome, CopyOutcome::kGone);
  EXPECT_EQ(EntryCount(temp), 0u);
}

TEST_F(FileSystemTest, FolderIdentityIsOneForEverySpellingOfAFolder) {
  const std::string folder = folder_.Make("F");
  const std::optional<FileIdentity> identity = fs_->FolderIdentity(folder);
  ASSERT_TRUE(identity.has_value());
#ifdef _WIN32
  std::string upper = folder, lower = folder;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::vector<std::string> spellings = {folder + "\\.", folder + "\\", upper, lower};
#else
  const std::string relative = fs::relative(folder).string();
  ASSERT_EQ(symlink(folder.c_str(), Path("link").c_str()), 0);
  const std::vector<std::string> spellings = {folder + "/.", folder + "//", relative,
                                              "./" + relative, Path("link")};
#endif
  for (const std::string& spelling : spellings) {
    EXPECT_TRUE(fs_->FolderIdentity(spelling) == identity) << spelling;
  }
  EXPECT_NE(fs_->FolderIdentity(folder_.Make("G")), identity);
  WriteFile(Path("file"), "");
  for (const std::string& none : {Path("file"), Path("missing"), std::string()}) {
    EXPECT_FALSE(fs_->FolderIdentity(none).has_value()) << none;
  }
}

TEST_F(FileSystemTest, DeleteRemovesReadOnlyFilesOnlyWithForce) {
  WriteFile(Path("r.GDT"), "x");
  MakeReadOnly(Path("r.GDT"));
  EXPECT_THROW(fs_->DeleteFile(Path("r.GDT"), false), RuntimeError);
  EXPECT_TRUE(Exists(Path("r.GDT")));
  fs_->DeleteFile(Path("r.GDT"), true);
  EXPECT_FALSE(Exists(Path("r.GDT")));
  EXPECT_THROW(fs_->DeleteFile(Path("r.GDT"), true), RuntimeError);
}

TEST_F(FileSystemTest, AppendTextAddsToTheEndOfAFileItMayCreate) {
  fs_->AppendText(Path("Debug.log"), "one\r\n");
  fs_->AppendText(Path("Debug.log"), "two\r\n");
  EXPECT_EQ(ReadFile(Path("Debug.log")), "one\r\ntwo\r\n");
  EXPECT_THROW(fs_->AppendText(Below(Path("Logs"), "Debug.log"), "x"), RuntimeError);
}

// What may become of a source between its copy and its delete: only the
// file that was copied, unchanged, goes.
struct AfterCopy {
  const char* what;
  std::function<void(const std::string& path)> change;
  bool deleted;
};

class DeleteCopiedTest : public FileSystemTest, public ::testing::WithParamInterface<AfterCopy> {};

TEST_P(DeleteCopiedTest, RemovesOnlyTheFileThatWasCopied) {
  const std::string temp = folder_.Make("Temp");
  const std::string source = Path("order.GDT");
  WriteFile(source, "first version");
  const CopyResult copied = fs_->CopyFile(source, Below(temp, "order.GDT"), true);
  ASSERT_EQ(copied.outcome, CopyOutcome::kCopied);
  GetParam().change(source);
  if (GetParam().deleted) {
    // False only for a file that someone else took first.
    const bool there = Exists(source);
    EXPECT_EQ(fs_->DeleteCopiedFile(source, copied.source), there);
    EXPECT_FALSE(Exists(source));
  } else {
    const std::string before = ReadFile(source);
    EXPECT_THROW(fs_->DeleteCopiedFile(source, copied.source), RuntimeError);
    EXPECT_EQ(ReadFile(source), before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, DeleteCopiedTest,
    ::testing::Values(
        AfterCopy{"Unchanged", [](const std::string&) {}, true},
        AfterCopy{"UnchangedAndReadOnly", [](const std::string& path) { MakeReadOnly(path); },
                  true},
        AfterCopy{"TakenBySomeoneElse", [](const std::string& path) { fs::remove(path); }, true},
        AfterCopy{"NewVersionUnderTheSameName",
                  [](const std::string& path) {
                    // A dropper that reuses one name writes beside it and
                    // renames over it; same size, same time: only which
                    // file it is tells the versions apart.
                    WriteFile(path + ".new", "other version");
                    fs::last_write_time(path + ".new", fs::last_write_time(path));
                    fs::rename(path + ".new", path);
                  },
                  false},
        AfterCopy{"WrittenAgainInPlace",
                  [](const std::string& path) { WriteFile(path, "first version, longer"); }, false},
        AfterCopy{"SameSizeNewTime",
                  [](const std::string& path) {
                    fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
                  },
                  false}),
    [](const auto& info) { return std::string(info.param.what); });

// The settle rule on the test clock: sightings of files, each at a time
// after the first sighting, and whether it admits a copy.
struct Sighting {
  const char* path;
  int at_ms;
  int stamp;  // 0 as first seen, 1 a later write time, 2 one byte more
  bool admitted;
  bool under_copy = false;  // seen so right after a copy made from stamp 0
  int remembered = -1;      // the files kept after it, where it matters
};

struct Settling {
  const char* what;
  std::vector<Sighting> sightings;
};

class SettleTest : public ::testing::TestWithParam<Settling> {};

// F, when a file unseen is forgotten, in milliseconds.
constexpr int kForget = std::chrono::milliseconds(SettlingFiles::kForgetAfter).count();

TEST_P(SettleTest, AdmitsOnlyWhatStayedTheSameForAWholePeriod) {
  SettlingFiles settling;
  const SettlingFiles::Clock::time_point start{std::chrono::hours(1000)};
  const auto stamp = [](int variant) {
    return FileStamp{1, 2, 100u + (variant == 2), 1000 + (variant == 1)};
  };
  for (const Sighting& s : GetParam().sightings) {
    const auto now = start + std::chrono::milliseconds(s.at_ms);
    const bool admitted = s.under_copy
                              ? settling.KeepCopy(
                                    s.path, stamp(0), false, [&] { return stamp(s.stamp); }, now)
                              : settling.Admit(s.path, stamp(s.stamp), false, now);
    EXPECT_EQ(admitted, s.admitted) << s.path << " at " << s.at_ms << " ms";
    if (s.remembered >= 0) {
      EXPECT_EQ(settling.Remembered(), std::size_t(s.remembered)) << s.at_ms;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sightings, SettleTest,
    ::testing::Values(Settling{"AfterAWholePeriod",
                               {{"a", 0, 0, false}, {"a", 1999, 0, false}, {"a", 2000, 0, true}}},
                      Settling{"AChangedStampStartsAgain",
                               {{"a", 0, 0, false},
                                {"a", 2000, 1, false},
                                {"a", 3000, 1, false},
                                {"a", 4000, 1, true}}},
                      Settling{"ASizeAloneIsAChange",
                               {{"a", 0, 0, false}, {"a", 2000, 2, false}, {"a", 4000, 2, true}}},
                      Settling{"AChangeUnderTheCopyStartsAgain",
                               {{"a", 0, 0, false},
                                {"a", 2000, 0, true},
                                {"a", 2100, 1, false, true},
                                {"a", 3000, 1, false},
                                {"a", 4100, 1, true}}},
                      // "a" lapses at F; the sweep after F - 1 s is due at F + 1 s,
                      // not at every sighting before it.
                      Settling{"UnseenForAWhileIsForgottenOnceAPeriod",
                               {{"a", 0, 0, false},
                                {"b", kForget - 1000, 0, false, false, 2},
                                {"b", kForget + 500, 0, false, false, 2},
                                {"b", kForget + 1000, 0, true, false, 1},
                                {"a", kForget + 1500, 0, false, false, 2}}}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(BoundedExistenceTest, ASlowTestCountsAsMissingAndIsNeverDoubled) {
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  std::atomic<int> frozen_tests{0};
  BoundedTest test(
      [&](const std::string& path) {
        if (path != "frozen") return true;
        ++frozen_tests;
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return release; });
        return true;
      },
      std::chrono::milliseconds(1000));
  EXPECT_FALSE(test("frozen"));
  EXPECT_FALSE(test("frozen")) << "the waiting test answers for its path";
  EXPECT_TRUE(test("local")) << "other paths go on";
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  released.notify_all();
  bool back = false;
  for (int i = 0; i < 100 && !back; ++i) {
    back = test("frozen");
    if (!back) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(back) << "the path answers again once its test returns";
  EXPECT_EQ(frozen_tests, 2) << "one test at a time per path";
}

#ifndef _WIN32
// The rest concerns what only Linux has: symbolic links, fifos, leases,
// /proc and users' rights on open files.

// A child process that opens `path` with `flags` (running as `uid` when given)
// and keeps it open until the object goes away.
class HoldingChild {
 public:
  HoldingChild(const std::string& path, int flags, uid_t uid = static_cast<uid_t>(-1)) {
    int ready[2], release[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      bool ok = true;
      if (uid != static_cast<uid_t>(-1)) {
        ok = setgid(uid) == 0 && setuid(uid) == 0 && prctl(PR_SET_DUMPABLE, 1) == 0;
      }
      char c = ok && open(path.c_str(), flags) >= 0 ? 'y' : 'n';
      close(release[1]);
      if (write(ready[1], &c, 1) == 1 && read(release[0], &c, 1) >= 0) _exit(0);
      _exit(1);
    }
    close(ready[1]);
    close(release[0]);
    char c = 'n';
    opened_ = read(ready[0], &c, 1) == 1 && c == 'y';
    close(ready[0]);
    release_ = release[1];
  }
  ~HoldingChild() {
    if (release_ >= 0) close(release_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  bool opened() const { return opened_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool opened_ = false;
};

// RunAs() runs `work` in a child process with the user and group `uid` and
// gives its exit status.
int RunAs(uid_t uid, const std::function<int()>& work) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(uid) != 0 || setuid(uid) != 0) _exit(100);
    _exit(work());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

// CopyOutcome() is 0 when the copy succeeds, 1 when it raises "in use", 2
// for any other failure and 3 when the file is left to settle.
int CopyOutcome(FileSystem& fs, const std::string& from, const std::string& to) {
  try {
    return fs.CopyFile(from, to, true).outcome == CopyOutcome::kCopied ? 0 : 3;
  } catch (const RuntimeError& error) {
    return error.Number() == EAGAIN ? 1 : 2;
  }
}

int CopyOutcome(const std::string& from, const std::string& to) {
  return CopyOutcome(*NewFileSystem(), from, to);
}

TEST_F(FileSystemTest, SymbolicLinksAndSpecialFilesAreNeverTaken) {
  WriteFile(Path("secret"), "not yours");
  ASSERT_EQ(symlink(Path("secret").c_str(), Path("link.GDT").c_str()), 0);
  ASSERT_EQ(mkfifo(Path("pipe.GDT").c_str(), 0600), 0);
  const std::vector<FileEntry> files = fs_->Files(folder_.Path(), "");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].Name, "secret");
  const std::string temp = folder_.Make("Temp");
  EXPECT_THROW(fs_->CopyFile(Path("link.GDT"), Below(temp, "link.GDT"), true), RuntimeError);
  // A fifo would block a reader until a writer came; it is refused at once.
  EXPECT_THROW(fs_->CopyFile(Path("pipe.GDT"), Below(temp, "pipe.GDT"), true), RuntimeError);
  EXPECT_EQ(EntryCount(temp), 0u);
  EXPECT_FALSE(fs_->FolderExists(std::string("a\0b", 3)));
}

TEST_F(FileSystemTest, CopyNeverWritesThroughATempThatIsALink) {
  const std::string elsewhere = folder_.Make("elsewhere");
  for (const std::string& target : {std::string("."), elsewhere}) {
    const std::string temp = Path("Temp");
    fs::remove(temp);
    ASSERT_EQ(symlink(target.c_str(), temp.c_str()), 0);
    WriteFile(Path("x.GDT"), "keep me");
    try {
      fs_->CopyFile(Path("x.GDT"), Below(temp, "x.GDT"), true);
      ADD_FAILURE() << "copied through a link to " << target;
    } catch (const RuntimeError& error) {
      EXPECT_NE(std::string(error.what()).find(temp), std::string::npos) << error.what();
    }
    EXPECT_EQ(ReadFile(Path("x.GDT")), "keep me");
    EXPECT_EQ(EntryCount(elsewhere), 0u);
  }
}

TEST_F(FileSystemTest, CopyGivesTheCopyTheSourcesPermissions) {
  const std::string temp = folder_.Make("Temp");
  const mode_t old_umask = umask(022);
  for (const mode_t mode : {0640, 0444, 0400, 0755}) {
    WriteFile(Path("a.GDT"), "a");
    chmod(Path("a.GDT").c_str(), mode);
    fs_->CopyFile(Path("a.GDT"), Below(temp, "a.GDT"), true);
    struct stat st;
    ASSERT_EQ(stat(Below(temp, "a.GDT").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, mode) << std::oct << mode;
    chmod(Path("a.GDT").c_str(), 0644);
  }
  umask(old_umask);
}

TEST_F(FileSystemTest, FileHeldOpenForWritingIsLockedAndStays) {
  const std::string temp = folder_.Make("Temp");
  WriteFile(Path("x.GDT"), "half written");
  {
    HoldingChild writer(Path("x.GDT"), O_WRONLY);
    ASSERT_TRUE(writer.opened());
    try {
      fs_->CopyFile(Path("x.GDT"), Below(temp, "x.GDT"), true);
      ADD_FAILURE() << "a file open for writing was copied";
    } catch (const RuntimeError& error) {
      EXPECT_EQ(error.Number(), EAGAIN);
      EXPECT_NE(error.Description().find(Path("x.GDT")), std::string::npos);
    }
    EXPECT_EQ(EntryCount(temp), 0u);
    EXPECT_EQ(ReadFile(Path("x.GDT")), "half written");
  }
  {
    HoldingChild reader(Path("x.GDT"), O_RDONLY);
    ASSERT_TRUE(reader.opened());
    fs_->CopyFile(Path("x.GDT"), Below(temp, "x.GDT"), true);
  }
  EXPECT_EQ(ReadFile(Below(temp, "x.GDT")), "half written");
}

// A writer opening the source during a copy breaks the lease: the kernel
// signals the copier, which must not end it, and the copy under way fails as
// "in use" instead of landing: nothing reaches Temp and the source stays.
// The writer opens while the copy's temporary file holds less than half the
// data, so its open meets the copy before the copy's last check.
TEST_F(FileSystemTest, WriterArrivingDuringACopyNeverEndsTheCopier) {
  const std::string temp = folder_.Make("Temp");
  const std::string from = Path("big.GDT");
  const std::string to = Below(temp, "big.GDT");
  constexpr std::uintmax_t kSize = std::uintmax_t{32} << 20;
  WriteFile(from, std::string(kSize, 'x'));
  const auto copy_under_way = [&] {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(temp, error)) {
      const std::uintmax_t size = fs::file_size(entry.path(), error);
      if (!error && size < kSize / 2) return true;
    }
    return false;
  };
  // A copy may end before it is seen: then it is tried again.
  for (int attempt = 0; attempt < 20; ++attempt) {
    const pid_t copier = fork();
    if (copier == 0) {
      try {
        NewFileSystem()->CopyFile(from, to, true);
      } catch (const RuntimeError& error) {
        _exit(error.Number() == EAGAIN ? 1 : 2);
      }
      _exit(0);
    }
    int status = 0;
    bool met = false;
    while (!(met = copy_under_way()) && waitpid(copier, &status, WNOHANG) == 0) {
    }
    if (!met) {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a copy failed: " << status;
      fs::remove(to);
      continue;
    }
    // Waits while the copy holds the lease.
    const int writer = open(from.c_str(), O_WRONLY | O_CLOEXEC);
    EXPECT_GE(writer, 0);
    ASSERT_EQ(waitpid(copier, &status, 0), copier);
    close(writer);
    ASSERT_TRUE(WIFEXITED(status)) << "the copier was ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1) << "0: the copy landed; 2: it failed otherwise";
    EXPECT_EQ(EntryCount(temp), 0u);
    EXPECT_EQ(fs_->Size(from), kSize);
    return;
  }
  GTEST_SKIP() << "no copy was seen under way: this file system clones files at once";
}

// A copy's temporary file written by another process, as a copy does it:
// the file beside its destination, with some bytes in it, held open until
// the writer is released or killed.
class WriterInAnotherProcess {
 public:
  explicit WriterInAnotherProcess(const std::string& destination) {
    int ready[2], release[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(release[1]);
      posix::FileBeside file(destination, 0644);
      const std::string bytes(4096, 'p');
      if (write(file.fd(), bytes.data(), bytes.size()) != 4096) _exit(1);
      const std::string path = file.path() + "\n";
      char c;
      if (write(ready[1], path.data(), path.size()) < 0 || read(release[0], &c, 1) < 0) _exit(1);
      _exit(0);  // as a crash would: the file stays behind, unlocked
    }
    close(ready[1]);
    close(release[0]);
    char c;
    while (read(ready[0], &c, 1) == 1 && c != '\n') path_ += c;
    close(ready[0]);
    release_ = release[1];
  }
  ~WriterInAnotherProcess() { Kill(); }

  const std::string& path() const { return path_; }

  // Kill() ends the writer with SIGKILL, as a crash would.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    close(release_);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  std::string path_;
};

TEST_F(FileSystemTest, AbandonedCopiesGoAndLivingOnesStay) {
  const std::string temp = folder_.Make("Temp");
  WriterInAnotherProcess living(Below(temp, "live.GDT"));
  WriterInAnotherProcess dead(Below(temp, "dead.GDT"));
  ASSERT_TRUE(Exists(living.path()));
  ASSERT_TRUE(Exists(dead.path()));
  dead.Kill();
  // A copy's file the moment it is created: empty, not yet locked.
  const std::string fresh = Below(temp, ".new.GDT.quillbeck-0123456789ab.part");
  WriteFile(fresh, "");

  fs_->RemoveAbandonedCopies(temp);
  EXPECT_TRUE(Exists(living.path())) << "a living writer's copy was removed";
  EXPECT_FALSE(Exists(dead.path())) << "a dead writer's copy stayed";
  EXPECT_TRUE(Exists(fresh)) << "a copy that may be about to be locked was removed";

  living.Kill();
  fs_->RemoveAbandonedCopies(temp);
  EXPECT_FALSE(Exists(living.path()));
  EXPECT_EQ(EntryCount(temp), 1u);
}

TEST_F(FileSystemTest, SweepTouchesNoOtherName) {
  const std::string temp = folder_.Make("Temp");
  // What a copy names its file, and near misses that it never makes.
  const std::string ours = ".x.GDT.quillbeck-abcdefghij12.part";
  const std::vector<std::string> foreign = {
      "x.GDT",
      "x.GDT.quillbeck-abcdefghij12.part",    // not hidden
      ".x.GDT.quillbeck-abcdefghij1.part",    // suffix too short
      ".x.GDT.quillbeck-abcdefghij123.part",  // suffix too long
      ".x.GDT.quillbeck-ABCDEFGHIJ12.part",   // capitals
      ".x.GDT.quillbeck-abcdefghi-12.part",   // not a letter or digit
      ".x.GDT.quillbeck-abcdefghij12.part.bak",
      ".x.GDT.quillbeck-abcdefghij12.par",
      ".x.GDT.quillbeck-abcdefghij12.partial",
      ".x.GDT.quillbeckabcdefghij12.part",
      "..quillbeck-abcdefghij12.part",                               // no destination name
      "." + std::string(201, 'n') + ".quillbeck-abcdefghij12.part",  // name too long
  };
  for (const std::string& name : foreign) WriteFile(Below(temp, name), "someone's data");
  WriteFile(Below(temp, ours), "abandoned");
  // Entries of our kind of name that are not regular files.
  WriteFile(Path("target"), "not ours");
  const std::string link = Below(temp, ".l.GDT.quillbeck-abcdefghij12.part");
  ASSERT_EQ(symlink(Path("target").c_str(), link.c_str()), 0);
  ASSERT_EQ(mkfifo(Below(temp, ".f.GDT.quillbeck-abcdefghij12.part").c_str(), 0600), 0);
  folder_.Make(Below("Temp", ".d.GDT.quillbeck-abcdefghij12.part"));

  fs_->RemoveAbandonedCopies(temp);
  EXPECT_FALSE(Exists(Below(temp, ours)));
  for (const std::string& name : foreign) {
    EXPECT_EQ(ReadFile(Below(temp, name)), "someone's data") << name;
  }
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFile(Path("target")), "not ours");
  EXPECT_EQ(EntryCount(temp), foreign.size() + 3);
}

TEST_F(FileSystemTest, SweepNeverFollowsALinkToAFolder) {
  const std::string temp = folder_.Make("Temp");
  const std::string abandoned = Below(temp, ".x.GDT.quillbeck-abcdefghij12.part");
  WriteFile(abandoned, "abandoned");
  ASSERT_EQ(symlink(temp.c_str(), Path("linked").c_str()), 0);
  fs_->RemoveAbandonedCopies(Path("linked"));
  EXPECT_TRUE(Exists(abandoned));
  fs_->RemoveAbandonedCopies(Path("missing"));
  fs_->RemoveAbandonedCopies("");
  fs_->RemoveAbandonedCopies(temp);
  EXPECT_FALSE(Exists(abandoned));
}

// A sweep (of another installation, say) running all the while copies are
// made into the same Temp never takes a copy from under its writer: every
// copy lands.
TEST_F(FileSystemTest, SweepsDuringCopiesNeverTakeALivingCopy) {
  const std::string temp = folder_.Make("Temp");
  const std::string from = Path("big.GDT");
  WriteFile(from, std::string(8 << 20, 'x'));
  const pid_t copier = fork();
  if (copier == 0) {
    const std::unique_ptr<FileSystem> fs = NewFileSystem();
    for (int round = 0; round < 40; ++round) {
      try {
        fs->CopyFile(from, temp + "/big.GDT", true);
      } catch (const RuntimeError&) {
        _exit(1);
      }
    }
    _exit(0);
  }
  int status = 0;
  int sweeps = 0;
  while (waitpid(copier, &status, WNOHANG) == 0) {
    fs_->RemoveAbandonedCopies(temp);
    ++sweeps;
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a copy failed under " << sweeps << " sweeps";
  EXPECT_EQ(fs_->Size(temp + "/big.GDT"), std::uint64_t{8} << 20);
  EXPECT_EQ(EntryCount(temp), 1u);
}

TEST(OpenForWritingElsewhere, SeesWritingDescriptorsOfOtherProcesses) {
  testing::TempFolder folder;
  const std::string path = folder.Join("f");
  WriteFile(path, "x");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_FALSE(posix::OpenForWritingElsewhere(st.st_dev, st.st_ino));
  {
    HoldingChild reader(path, O_RDONLY);
    ASSERT_TRUE(reader.opened());
    EXPECT_FALSE(posix::OpenForWritingElsewhere(st.st_dev, st.st_ino));
  }
  // The scan ends early when it finds a writer, and still closes what it
  // opened: it runs at every tick a writer is there.
  const auto open_descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  for (const int flags : {O_WRONLY, O_RDWR, O_WRONLY | O_APPEND}) {
    HoldingChild writer(path, flags);
    ASSERT_TRUE(writer.opened());
    const auto before = open_descriptors();
    EXPECT_TRUE(posix::OpenForWritingElsewhere(st.st_dev, st.st_ino)) << flags;
    EXPECT_EQ(open_descriptors(), before) << flags;
  }
  const int own = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  EXPECT_FALSE(posix::OpenForWritingElsewhere(st.st_dev, st.st_ino));
  close(own);
}

// A user who may not take a lease on a file (not its owner) still finds a
// writer of it, through /proc.
// Where no thread can be made for it, the existence test is made on the
// caller's thread rather than not at all.
TEST(BoundedExistenceTest, WithoutAThreadToSpareTheTestIsStillMade) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become a user with no processes to spare";
  const std::string path = "/";
  EXPECT_EQ(RunAs(65534,
                  [&] {
                    const rlimit none{0, 0};
                    if (setrlimit(RLIMIT_NPROC, &none) != 0) return 3;
                    bool thread_made = true;
                    try {
                      std::thread([] {}).join();
                    } catch (const std::system_error&) {
                      thread_made = false;
                    }
                    if (thread_made) return 2;
                    return NewFileSystem()->FolderExists(path) ? 0 : 1;
                  }),
            0);
}

TEST_F(FileSystemTest, CopyWithoutALeaseFallsBackToLookingForWriters) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
  const uid_t nobody = 65534;
  const std::string temp = folder_.Make("Temp");
  chmod(folder_.Path().c_str(), 0755);
  chmod(temp.c_str(), 0777);
  WriteFile(Path("x.GDT"), "root's file");
  chmod(Path("x.GDT").c_str(), 0666);
  const std::string from = Path("x.GDT");
  const std::string to = Below(temp, "x.GDT");
  {
    HoldingChild writer(from, O_WRONLY, nobody);
    ASSERT_TRUE(writer.opened());
    EXPECT_EQ(RunAs(nobody, [&] { return CopyOutcome(from, to); }), 1);
    EXPECT_EQ(EntryCount(temp), 0u);
  }
  // No lease vouches for another owner's file, and /proc may hide its
  // writer: it is taken only once it has looked the same for a whole
  // period, however often it was looked at in between.
  EXPECT_EQ(RunAs(nobody,
                  [&] {
                    const std::unique_ptr<FileSystem> fs = NewFileSystem();
                    const int first = CopyOutcome(*fs, from, to);
                    const int at_once = CopyOutcome(*fs, from, to);
                    std::this_thread::sleep_for(SettlingFiles::kPeriod);
                    return first * 16 + at_once * 4 + CopyOutcome(*fs, from, to);
                  }),
            3 * 16 + 3 * 4 + 0);
  EXPECT_EQ(ReadFile(to), "root's file");
}

// A Temp that refuses new files fails every copy, and none of them keeps a
// descriptor: the service runs for months against such a folder.
TEST_F(FileSystemTest, ARefusingTempKeepsNoDescriptorOpen) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become a user that Temp refuses";
  const uid_t nobody = 65534;
  const std::string temp = folder_.Make("Temp");
  chmod(folder_.Path().c_str(), 0777);
  chmod(temp.c_str(), 0555);
  WriteFile(Path("x.GDT"), "x");
  ASSERT_EQ(chown(Path("x.GDT").c_str(), nobody, nobody), 0);
  const auto open_descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  EXPECT_EQ(RunAs(nobody,
                  [&] {
                    const std::unique_ptr<FileSystem> fs = NewFileSystem();
                    CopyOutcome(*fs, Path("x.GDT"), Below(temp, "x.GDT"));
                    const auto before = open_descriptors();
                    for (int i = 0; i < 50; ++i)
                      if (CopyOutcome(*fs, Path("x.GDT"), Below(temp, "x.GDT")) != 2) return 1;
                    return open_descriptors() == before ? 0 : 2;
                  }),
            0);
}
#endif

}  // namespace
}  // namespace quillbeck
