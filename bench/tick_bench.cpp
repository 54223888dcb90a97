// tick_bench: what one tick of the watch cycle costs, each figure measured
// side by side with its yardstick in the same run, the contenders taking
// turns, and the median of several rounds reported.
//
//   tick_bench pickup WORK [FILES] [ROUNDS]  one tick moving FILES small files
//   tick_bench large  WORK [MIB] [ROUNDS]    one tick moving one large file
//   tick_bench clone  WORK [MIB] [ROUNDS]    the same where WORK shares extents
//   tick_bench scale  WORK [ROUNDS] [FILES...] a tick over FILES that do not match,
//                                            for each count given, and the memory
//   tick_bench drain  WORK SHARE BACKING [FILES...]  ticks draining FILES from
//                                            SHARE, a FUSE mount of BACKING
//   tick_bench memory WORK FOLDER            the resident memory of ticks over
//                                            FOLDER against waiting (for scale)
//   tick_bench tick   WORK [FILES]           one tick alone (for strace or perf)
//
// WORK is a scratch folder on the file system to measure; everything made in
// it is removed again. Each figure ends in lines of the form
//   ROW|figure|ours|yardstick|ratio|target|met
// that bench/run gathers into its table; the rest is detail for the reader.
//
// The tick is the real one: RunWatchCycle() over the real Linux file system
// and launcher, with a window stub whose slot 1 holds the folder and the
// command, the debug trace off.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "log/Global.h"
#include "platform/file_system.h"
#include "platform/runtime_error.h"
#include "platform/system_services.h"
#include "platform/window.h"
#include "watch/watch_cycle.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kCommand = "/bin/true";

// A window whose slot 1 holds one folder and one command; nothing else.
class SlotWindow : public quillbeck::Window {
 public:
  SlotWindow(std::string folder, std::string command)
      : folder_(std::move(folder)), command_(std::move(command)) {}
  void SetFolder(std::string folder) { folder_ = std::move(folder); }
  std::string FolderText(int slot) const override { return slot == 1 ? folder_ : ""; }
  void SetFolderText(int, const std::string&) override {}
  std::string ShellText(int slot) const override { return slot == 1 ? command_ : ""; }
  void SetShellText(int, const std::string&) override {}
  bool DebugChecked() const override { return false; }
  void SetDebugChecked(bool) override {}
  std::string StartCaption() const override { return "Stop Service"; }
  void SetStartCaption(const std::string&) override {}
  void SetTimerEnabled(bool) override {}
  void AddTrayIcon() override {}
  void RemoveTrayIcon() override {}
  bool TrayAvailable() const override { return true; }
  void SetVisible(bool) override {}
  void Minimize() override {}
  void RestoreNormalSize() override {}
  void ShowMessageBox(const std::string&, quillbeck::MessageIcon) override {}
  quillbeck::TrayChoice PopupTrayMenu() override { return quillbeck::TrayChoice::kNone; }
  void ServeOpenRequests(const std::string&) override {}
  void AskRunningCopyToOpen(const std::string&) override {}
  void EndImmediately() override {}
  void Post(std::function<void()>) noexcept override {}

 private:
  std::string folder_;
  std::string command_;
};

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "tick_bench: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string Samples(const std::vector<double>& values, double scale, const char* unit) {
  std::string text;
  char buffer[64];
  for (const double v : values) {
    std::snprintf(buffer, sizeof buffer, "%s%.3g", text.empty() ? "" : " ", v * scale);
    text += buffer;
  }
  return text + " " + unit;
}

// SyncAll() flushes every dirty page, so no contender pays for the writes of
// the one before it.
void SyncAll() { sync(); }

// WaitChildren() returns once no child of this process is left, running or
// ended and unreaped: every command the tick started has ended and the
// launcher has reaped it (10 s at most, should one never end). It only
// looks (WNOWAIT), so it never takes a child away from the launcher, which
// reaps only its own.
void WaitChildren() {
  const Clock::time_point give_up = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < give_up) {
    siginfo_t info{};
    if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 && errno == ECHILD) return;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// ReapAll() waits for and reaps every child: the floor's own commands, which
// no launcher watches.
void ReapAll() {
  while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
  }
}

// ReapFinished() reaps the children that have ended, without waiting, so
// ended commands do not pile up as zombies.
void ReapFinished() {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

pid_t Spawn(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  const int result = posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (result != 0) {
    errno = result;
    Die("posix_spawn " + arguments[0]);
  }
  return pid;
}

void RunToEnd(const std::vector<std::string>& arguments) {
  const pid_t pid = Spawn(arguments);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) Die("waitpid");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    errno = 0;
    Die(arguments[0] + " failed");
  }
}

// ReadThrough() reads a file to its end, so its pages are in the cache.
void ReadThrough(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Die("open " + path);
  std::vector<char> buffer(std::size_t{1} << 20);
  while (read(fd, buffer.data(), buffer.size()) > 0) {
  }
  close(fd);
}

// A watched folder with its Temp subfolder, removed when it goes.
class Folder {
 public:
  Folder(const std::string& work, const std::string& name) : path_(work + "/" + name) {
    fs::remove_all(path_);
    fs::create_directories(path_ + "/Temp");
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Die("create " + path);
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) Die("write " + path);
    done += static_cast<std::size_t>(n);
  }
  close(fd);
}

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937_64 generator(seed);
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; i += 8) {
    const std::uint64_t word = generator();
    std::memcpy(bytes.data() + i, &word, std::min<std::size_t>(8, size - i));
  }
  return bytes;
}

// --- the tick -------------------------------------------------------------

struct RealPlatform {
  quillbeck::SystemServices services;
  quillbeck::Platform& platform;
  quillbeck::Global global;
  explicit RealPlatform(const std::string& executable_folder)
      : services(executable_folder), platform(services.platform()), global(platform) {}
};

// A program's lasting state, as Quillbeck keeps it from tick to tick: one
// platform, one window, one runner whose threads stay. Figures 4 and 6 tick
// over it again and again, as the timer does.
class KeptProgram {
 public:
  KeptProgram(const std::string& work, const std::string& folder)
      : real_(work), window_(folder, kCommand) {}

  void SetFolder(const std::string& folder) { window_.SetFolder(folder); }

  // Tick() is the time of one tick, until its work and every command it
  // started have ended.
  double Tick() {
    const Clock::time_point start = Clock::now();
    try {
      auto failures = quillbeck::RunWatchCycle(real_.platform, real_.global, window_, state_,
                                               Clock::now() + quillbeck::kFolderWorkWait);
      for (const auto& failure : failures) std::rethrow_exception(failure);
      // A tick's work that outlasts the window's wait goes on by itself: the
      // figure is the whole of it.
      state_.runner.WaitIdle();
      for (const auto& late : state_.runner.TakeLateFailures()) std::rethrow_exception(late.error);
    } catch (const quillbeck::RuntimeError& error) {
      std::fprintf(stderr, "tick_bench: the tick failed: %d %s\n", error.Number(),
                   error.Description().c_str());
      std::exit(1);
    }
    WaitChildren();
    return Seconds(Clock::now() - start);
  }

 private:
  RealPlatform real_;
  SlotWindow window_;
  quillbeck::WatchState state_;
};

// Tick() is the time of one real tick over `folder` by a program started
// for it, until every command it started has ended.
double Tick(const std::string& work, const std::string& folder) {
  return KeptProgram(work, folder).Tick();
}

// --- the floor: the same work in the fewest system calls ----------------

// Floor() moves every ".GDT" file of `folder` into Temp the way the tick
// must at the least (open, a new file in Temp, copy_file_range, rename over
// the destination, unlink, posix_spawn, reaping ended commands as it goes),
// then waits for the rest.
// `durable` adds what the tick does so a power cut cannot lose a file: the
// fdatasync of the copy before the rename and the sync of Temp after it.
double Floor(const std::string& folder, bool durable) {
  const Clock::time_point start = Clock::now();
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) Die("opendir " + folder);
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_type != DT_REG) continue;
    const std::size_t length = std::strlen(entry->d_name);
    if (length >= 4 && strcasecmp(entry->d_name + length - 4, ".gdt") == 0) {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(dir);
  char* argv[] = {const_cast<char*>(kCommand), nullptr};
  for (const std::string& name : names) {
    const std::string from = folder + "/" + name;
    const std::string to = folder + "/Temp/" + name;
    const std::string part = folder + "/Temp/." + name + ".part";
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) Die("open " + from);
    struct stat st;
    if (fstat(in, &st) != 0) Die("fstat " + from);
    const int out = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) Die("open " + part);
    for (off_t left = st.st_size; left > 0;) {
      const ssize_t n =
          copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(left), 0);
      if (n <= 0) Die("copy_file_range " + from);
      left -= n;
    }
    if (durable && fdatasync(out) != 0) Die("fdatasync " + part);
    close(out);
    close(in);
    if (rename(part.c_str(), to.c_str()) != 0) Die("rename " + part);
    if (durable) {
      const int temp = open((folder + "/Temp").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (temp < 0 || fsync(temp) != 0) Die("fsync " + folder + "/Temp");
      close(temp);
    }
    if (unlink(from.c_str()) != 0) Die("unlink " + from);
    pid_t pid;
    if (posix_spawn(&pid, kCommand, nullptr, nullptr, argv, environ) != 0) Die("posix_spawn");
    ReapFinished();
  }
  ReapAll();
  return Seconds(Clock::now() - start);
}

// SpawnOnly() starts the command once per ".GDT" file and waits for them,
// moving nothing: the part of the floor that process creation takes.
double SpawnOnly(const std::string& folder, int files) {
  const Clock::time_point start = Clock::now();
  char* argv[] = {const_cast<char*>(kCommand), nullptr};
  for (int i = 0; i < files; ++i) {
    pid_t pid;
    if (posix_spawn(&pid, kCommand, nullptr, nullptr, argv, environ) != 0) Die("posix_spawn");
    ReapFinished();
  }
  ReapAll();
  (void)folder;
  return Seconds(Clock::now() - start);
}

// ShellLoop() is the loop an administrator would write instead; `durable`
// makes it as safe as the tick, syncing each copy's data before the rm.
double ShellLoop(const std::string& folder, bool durable) {
  const Clock::time_point start = Clock::now();
  RunToEnd({"/bin/sh", "-c",
            durable
                ? "cd \"$1\" && for f in *.GDT; do cp \"$f\" Temp/; sync --data \"Temp/$f\"; "
                  "rm \"$f\"; /bin/true & done; wait"
                : "cd \"$1\" && for f in *.GDT; do cp \"$f\" Temp/; rm \"$f\"; /bin/true & done; "
                  "wait",
            "sh", folder});
  return Seconds(Clock::now() - start);
}

void PrintRow(const char* figure, const std::string& ours, const std::string& yardstick,
              const std::string& ratio, const char* target, bool met) {
  std::printf("ROW|%s|%s|%s|%s|%s|%s\n", figure, ours.c_str(), yardstick.c_str(), ratio.c_str(),
              target, met ? "yes" : "NO");
}

std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// --- the figures ------------------------------------------------------------

int Pickup(const std::string& work, int files, int rounds) {
  const std::string payload = RandomBytes(4096, 1);
  auto fill = [&](const Folder& folder) {
    for (int i = 0; i < files; ++i) {
      WriteBytes(folder.path() + "/drop" + std::to_string(i) + ".GDT", payload);
    }
    SyncAll();
  };
  struct Contender {
    const char* name;
    std::function<double(const std::string&)> run;
    std::vector<double> seconds;
  };
  std::vector<Contender> contenders = {
      {"tick", [&](const std::string& f) { return Tick(work, f); }, {}},
      {"floor", [](const std::string& f) { return Floor(f, false); }, {}},
      {"floor durable", [](const std::string& f) { return Floor(f, true); }, {}},
      {"shell loop", [](const std::string& f) { return ShellLoop(f, false); }, {}},
      {"shell durable", [](const std::string& f) { return ShellLoop(f, true); }, {}},
      {"spawn only", [&](const std::string& f) { return SpawnOnly(f, files); }, {}},
  };
  for (int round = 0; round < rounds; ++round) {
    // Each round starts with another contender, so none always follows the
    // same one.
    for (std::size_t turn = 0; turn < contenders.size(); ++turn) {
      Contender& contender =
          contenders[(turn + static_cast<std::size_t>(round)) % contenders.size()];
      Folder folder(work, "pickup");
      fill(folder);
      contender.seconds.push_back(contender.run(folder.path()));
      std::size_t moved = 0;
      if (contender.name == std::string("spawn only")) continue;
      for (const auto& entry : fs::directory_iterator(folder.path() + "/Temp")) {
        moved += entry.path().extension() == ".GDT";
      }
      if (moved != static_cast<std::size_t>(files)) {
        std::fprintf(stderr, "tick_bench: %s moved %zu of %d files\n", contender.name, moved,
                     files);
        return 1;
      }
      SyncAll();
    }
  }
  std::printf("pick-up of %d files of 4 KiB with %s, %d rounds (per file):\n", files, kCommand,
              rounds);
  std::vector<double> per_file;
  for (const Contender& contender : contenders) {
    per_file.push_back(Median(contender.seconds) / files);
    std::printf("  %-16s median %8.1f us   rounds: %s\n", contender.name, per_file.back() * 1e6,
                Samples(contender.seconds, 1e6 / files, "us").c_str());
  }
  const double tick = per_file[0], floor = per_file[1], durable = per_file[2], shell = per_file[3];
  const double shell_durable = per_file[4], spawn = per_file[5];
  PrintRow("1a pick-up, per file vs floor (both durable)", Format("%.0f us", tick * 1e6),
           Format("%.0f us", durable * 1e6), Format("%.2fx", tick / durable), "<= 1.25x",
           tick / durable <= 1.25);
  PrintRow("1a' same, floor without flushing", Format("%.0f us", tick * 1e6),
           Format("%.0f us", floor * 1e6), Format("%.2fx", tick / floor), "(info)", true);
  PrintRow("1a'' floor's process start alone", Format("%.0f us", tick * 1e6),
           Format("%.0f us", spawn * 1e6), Format("%.2fx", tick / spawn), "(info)", true);
  PrintRow("1b pick-up, per file vs shell loop + sync --data", Format("%.0f us", tick * 1e6),
           Format("%.0f us", shell_durable * 1e6), Format("%.2fx faster", shell_durable / tick),
           ">= 3x faster", shell_durable / tick >= 3);
  PrintRow("1b' same, vs shell loop without flushing", Format("%.0f us", tick * 1e6),
           Format("%.0f us", shell * 1e6), Format("%.2fx faster", shell / tick), "(info)", true);
  return 0;
}

// WriteLargeFile() writes `mib` MiB of random bytes (from `seed`) to `path`.
void WriteLargeFile(const std::string& path, int mib, unsigned seed) {
  const std::string chunk = RandomBytes(std::size_t{1} << 20, seed);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Die("create " + path);
  for (int i = 0; i < mib; ++i) {
    if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
      Die("write " + path);
    }
  }
  close(fd);
}

int Large(const std::string& work, int mib, int rounds) {
  Folder folder(work, "large");
  const std::string source = folder.path() + "/big.GDT";
  const std::string in_temp = folder.path() + "/Temp/big.GDT";
  const std::string copy = folder.path() + "/Temp/big-copy.GDT";
  WriteLargeFile(source, mib, 2);
  SyncAll();
  ReadThrough(source);  // warm the page cache once, for all
  std::vector<double> tick, cp, cp_sync, cp_rm, cp_sync_rm;
  // Round -1 is a warm-up, not counted: the first round to touch fresh
  // memory and a fresh file runs slow for every contender alike.
  for (int round = -1; round < rounds; ++round) {
    // Every contender reads the same cached source and writes a new file.
    ReadThrough(source);
    tick.push_back(Tick(work, folder.path()));
    SyncAll();
    if (rename(in_temp.c_str(), source.c_str()) != 0) Die("rename back");

    Clock::time_point start = Clock::now();
    RunToEnd({"/bin/cp", source, copy});
    cp.push_back(Seconds(Clock::now() - start));
    SyncAll();
    unlink(copy.c_str());
    SyncAll();

    start = Clock::now();
    RunToEnd({"/bin/cp", source, copy});
    RunToEnd({"/bin/sync", "--data", copy});
    cp_sync.push_back(Seconds(Clock::now() - start));
    unlink(copy.c_str());
    SyncAll();

    // The move as a shell does it: the copy, then the source removed.
    start = Clock::now();
    RunToEnd({"/bin/cp", source, copy});
    RunToEnd({"/bin/rm", source});
    cp_rm.push_back(Seconds(Clock::now() - start));
    SyncAll();
    if (rename(copy.c_str(), source.c_str()) != 0) Die("rename back");

    // The move as safely as the tick makes it: the copy's data on the disk
    // before the source goes.
    start = Clock::now();
    RunToEnd({"/bin/cp", source, copy});
    RunToEnd({"/bin/sync", "--data", copy});
    RunToEnd({"/bin/rm", source});
    cp_sync_rm.push_back(Seconds(Clock::now() - start));
    SyncAll();
    if (rename(copy.c_str(), source.c_str()) != 0) Die("rename back");
    if (round < 0)
      for (std::vector<double>* contender : {&tick, &cp, &cp_sync, &cp_rm, &cp_sync_rm})
        contender->pop_back();
  }
  const double bytes = static_cast<double>(mib) * (1 << 20);
  auto rate = [&](double seconds) { return bytes / seconds / (1 << 20); };
  std::printf("one file of %d MiB, %d rounds after a warm-up (MiB/s):\n", mib, rounds);
  std::printf("  best rounds: tick %.0f MiB/s, cp + sync + rm %.0f MiB/s\n",
              rate(*std::min_element(tick.begin(), tick.end())),
              rate(*std::min_element(cp_sync_rm.begin(), cp_sync_rm.end())));
  std::printf("  tick             median %7.0f MiB/s   rounds: %s\n", rate(Median(tick)),
              Samples(tick, 1, "s").c_str());
  std::printf("  cp               median %7.0f MiB/s   rounds: %s\n", rate(Median(cp)),
              Samples(cp, 1, "s").c_str());
  std::printf("  cp + sync --data median %7.0f MiB/s   rounds: %s\n", rate(Median(cp_sync)),
              Samples(cp_sync, 1, "s").c_str());
  std::printf("  cp + rm          median %7.0f MiB/s   rounds: %s\n", rate(Median(cp_rm)),
              Samples(cp_rm, 1, "s").c_str());
  std::printf("  cp + sync + rm   median %7.0f MiB/s   rounds: %s\n", rate(Median(cp_sync_rm)),
              Samples(cp_sync_rm, 1, "s").c_str());
  const std::string ours = Format("%.0f MiB/s", rate(Median(tick)));
  // row() prints one row of this figure against `yardstick`.
  auto row = [&](const char* figure, const std::vector<double>& yardstick, const char* target,
                 bool counts) {
    const double ratio = Median(yardstick) / Median(tick);
    PrintRow(figure, ours, Format("%.0f MiB/s", rate(Median(yardstick))), Format("%.2fx", ratio),
             target, !counts || ratio >= 0.9);
  };
  row("2 large file, throughput vs cp + sync --data + rm", cp_sync_rm, ">= 0.9x", true);
  row("2' same, vs cp", cp, "(info)", false);
  row("2'' same, vs cp + rm of the source", cp_rm, "(info)", false);
  row("2''' same, vs cp + sync --data", cp_sync, "(info)", false);
  return 0;
}

// Clone() is figure 5: one tick moving a large file within a file system
// that shares extents (XFS, btrfs), where a copy can be a clone, against
// cp --reflink=always of the same file, which clones it in one call.
int Clone(const std::string& work, int mib, int rounds) {
  Folder folder(work, "clone");
  const std::string source = folder.path() + "/big.GDT";
  const std::string in_temp = folder.path() + "/Temp/big.GDT";
  const std::string copy = folder.path() + "/Temp/big-copy.GDT";
  WriteLargeFile(source, mib, 3);
  SyncAll();
  std::vector<double> tick, cp, cp_sync_rm;
  for (int round = 0; round < rounds; ++round) {
    tick.push_back(Tick(work, folder.path()));
    SyncAll();
    if (rename(in_temp.c_str(), source.c_str()) != 0) Die("rename back");
    SyncAll();

    Clock::time_point start = Clock::now();
    RunToEnd({"/bin/cp", "--reflink=always", source, copy});
    cp.push_back(Seconds(Clock::now() - start));
    SyncAll();
    unlink(copy.c_str());
    SyncAll();

    // The same clone made into a move as safe as the tick's.
    start = Clock::now();
    RunToEnd({"/bin/cp", "--reflink=always", source, copy});
    RunToEnd({"/bin/sync", "--data", copy});
    RunToEnd({"/bin/rm", source});
    cp_sync_rm.push_back(Seconds(Clock::now() - start));
    SyncAll();
    if (rename(copy.c_str(), source.c_str()) != 0) Die("rename back");
    SyncAll();
  }
  std::printf("one file of %d MiB where extents are shared, %d rounds:\n", mib, rounds);
  std::printf("  tick             median %8.2f ms   rounds: %s\n", Median(tick) * 1e3,
              Samples(tick, 1e3, "ms").c_str());
  std::printf("  cp --reflink     median %8.2f ms   rounds: %s\n", Median(cp) * 1e3,
              Samples(cp, 1e3, "ms").c_str());
  std::printf("  + sync + rm      median %8.2f ms   rounds: %s\n", Median(cp_sync_rm) * 1e3,
              Samples(cp_sync_rm, 1e3, "ms").c_str());
  const double ratio = Median(tick) / Median(cp);
  PrintRow("5 large file sharing extents (XFS), time vs cp --reflink=always",
           Format("%.2f ms", Median(tick) * 1e3), Format("%.2f ms", Median(cp) * 1e3),
           Format("%.2fx", ratio), "<= 1.5x", ratio <= 1.5);
  PrintRow("5' same, vs cp --reflink=always + sync --data + rm",
           Format("%.2f ms", Median(tick) * 1e3), Format("%.2f ms", Median(cp_sync_rm) * 1e3),
           Format("%.2fx", Median(tick) / Median(cp_sync_rm)), "(info)", true);
  return 0;
}

// WalkFloor() lists the folder and tests each name, as the tick must at the
// least.
double WalkFloor(const std::string& folder, std::size_t& matched) {
  const Clock::time_point start = Clock::now();
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) Die("opendir " + folder);
  matched = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_type != DT_REG) continue;
    const std::size_t length = std::strlen(entry->d_name);
    matched += length >= 4 && strcasecmp(entry->d_name + length - 4, ".gdt") == 0;
  }
  closedir(dir);
  return Seconds(Clock::now() - start);
}

// StatusKib() is a field of /proc/self/status in KiB (VmRSS, VmHWM).
long StatusKib(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
  }
  return -1;
}

// Memory() runs in a process of its own (`tick_bench memory`): the ticks of
// a program waiting over an empty folder, its resident memory then (idle),
// then ticks over `folder` and the most it was ever resident (peak).
int Memory(const std::string& work, const std::string& folder) {
  Folder empty(work, "idle");
  KeptProgram program(work, empty.path());
  for (int i = 0; i < 3; ++i) program.Tick();
  const long idle = StatusKib("VmRSS:");
  program.SetFolder(folder);
  for (int i = 0; i < 3; ++i) program.Tick();
  std::printf("%ld %ld\n", idle, StatusKib("VmHWM:"));
  return 0;
}

// MemoryOf() is Memory() over `folder` in a fresh process: {idle, peak} KiB.
std::pair<long, long> MemoryOf(const std::string& work, const std::string& folder) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) Die("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  std::vector<std::string> arguments = {self, "memory", work, folder};
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ) != 0) Die("spawn");
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  long idle = -1, peak = -1;
  if (std::sscanf(text.c_str(), "%ld %ld", &idle, &peak) != 2 || idle <= 0) {
    errno = 0;
    Die("the memory figure gave no numbers");
  }
  return {idle, peak};
}

// Scale() is figure 4: a tick of the kept program over a folder of `files`
// empty files none of which ends in ".GDT", per file, against a readdir loop
// testing each name; then the program's peak resident memory against its
// memory while waiting, for each count.
int Scale(const std::string& work, int rounds, const std::vector<int>& counts) {
  for (const int files : counts) {
    Folder folder(work, "scale");
    for (int i = 0; i < files; ++i) {
      WriteBytes(folder.path() + "/record" + std::to_string(i) + ".dat", "");
    }
    SyncAll();
    // Fewer rounds where one takes long: the figure is a median all the same.
    const int these_rounds = std::max(5, files > 100000 ? rounds / 4 : rounds);
    std::vector<double> tick, floor;
    std::size_t matched = 0;
    {
      KeptProgram program(work, folder.path());
      program.Tick();  // warm the directory cache and the runner, for both
      for (int round = 0; round < these_rounds; ++round) {
        // Each round starts with the other contender.
        if (round % 2) floor.push_back(WalkFloor(folder.path(), matched));
        tick.push_back(program.Tick());
        if (round % 2 == 0) floor.push_back(WalkFloor(folder.path(), matched));
      }
    }
    if (matched != 0) return 1;
    const auto [idle, peak] = MemoryOf(work, folder.path());
    const double ours = Median(tick) / files, base = Median(floor) / files;
    std::printf("one tick over %d files that do not match, %d rounds (per file):\n", files,
                these_rounds);
    std::printf("  tick             median %6.3f us   rounds: %s\n", ours * 1e6,
                Samples(tick, 1e6 / files, "us").c_str());
    std::printf("  readdir floor    median %6.3f us   rounds: %s\n", base * 1e6,
                Samples(floor, 1e6 / files, "us").c_str());
    std::printf("  resident memory: waiting %ld KiB, peak over the ticks %ld KiB\n", idle, peak);
    const std::string count = files >= 1000000 ? std::to_string(files / 1000000) + ",000,000"
                              : files >= 1000  ? std::to_string(files / 1000) + ",000"
                                               : std::to_string(files);
    PrintRow(("4 folder of " + count + " others, per file vs readdir loop").c_str(),
             Format("%.3f us", ours * 1e6), Format("%.3f us", base * 1e6),
             Format("%.2fx", ours / base), "<= 1.15x", ours / base <= 1.15);
    const double ratio = static_cast<double>(peak) / static_cast<double>(idle);
    const bool counts_for_target = files >= 1000000;
    PrintRow(("4m folder of " + count + " others, peak memory vs waiting").c_str(),
             Format("%.1f MiB", peak / 1024.0), Format("%.1f MiB", idle / 1024.0),
             Format("%.2fx", ratio), counts_for_target ? "<= 1.10x" : "(info)",
             !counts_for_target || ratio <= 1.10);
  }
  return 0;
}

// CountPickups() is the number of ".GDT" names left in `folder`.
std::size_t CountPickups(const std::string& folder) {
  std::size_t count = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    count += entry.is_regular_file() && entry.path().extension() == ".GDT";
  }
  return count;
}

// Drain() is figure 6: the kept program draining a backlog of `files` small
// files from a folder on a FUSE mount, where no lease vouches for a file
// and each is taken once it has stayed the same for a period. The files
// are written through the backing folder, as another machine writes a
// share. Ticks come as the timer brings them: every 2000 ms, a tick whose
// slot is still busy skipped. The figure is the time from the first tick
// until the folder is empty, per file.
int Drain(const std::string& work, const std::string& share, const std::string& backing,
          const std::vector<int>& counts) {
  const std::string payload = RandomBytes(4096, 4);
  std::vector<double> per_file;
  for (const int files : counts) {
    Folder served(backing, "drain");
    for (int i = 0; i < files; ++i) {
      WriteBytes(served.path() + "/drop" + std::to_string(i) + ".GDT", payload);
    }
    SyncAll();
    const std::string watched = share + "/drain";
    KeptProgram program(work, watched);
    const Clock::time_point start = Clock::now();
    const auto period = std::chrono::milliseconds(2000);
    int ticks = 0;
    Clock::time_point due = start;
    std::size_t left = static_cast<std::size_t>(files);
    std::vector<double> tick_seconds;
    while (left > 0) {
      std::this_thread::sleep_until(due);
      tick_seconds.push_back(program.Tick());
      ++ticks;
      left = CountPickups(served.path());
      // The next tick the timer brings once this one's work has ended.
      while (due <= Clock::now()) due += period;
      if (Clock::now() - start > std::chrono::hours(1)) {
        std::fprintf(stderr, "tick_bench: %zu of %d files still there after an hour\n", left,
                     files);
        return 1;
      }
    }
    const double total = Seconds(Clock::now() - start);
    if (CountPickups(served.path() + "/Temp") != static_cast<std::size_t>(files)) {
      std::fprintf(stderr, "tick_bench: the drain of %d files lost some\n", files);
      return 1;
    }
    per_file.push_back(total / files);
    std::printf("drain of %d files of 4 KiB on a FUSE mount: %.1f s in %d ticks, %.2f ms a file\n",
                files, total, ticks, per_file.back() * 1e3);
    std::printf("  the ticks that worked: %s\n",
                Samples(std::vector<double>(
                            tick_seconds.begin(),
                            tick_seconds.begin() + std::min<std::size_t>(tick_seconds.size(), 8)),
                        1, "s")
                    .c_str());
    SyncAll();
  }
  for (std::size_t i = 0; i < counts.size(); ++i) {
    const double ratio = per_file[i] / per_file[0];
    const bool counts_for_target = i > 0;
    PrintRow(("6 drain of " + std::to_string(counts[i]) + " files on FUSE, per file vs " +
              std::to_string(counts[0]))
                 .c_str(),
             Format("%.2f ms", per_file[i] * 1e3), Format("%.2f ms", per_file[0] * 1e3),
             Format("%.2fx", ratio), counts_for_target ? "<= 1.10x" : "(info)",
             !counts_for_target || ratio <= 1.10);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s pickup|large|clone|scale|drain|memory|tick WORK ...\n",
                 argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const std::string work = argv[2];
  fs::create_directories(work);
  auto arg = [&](int i, int fallback) { return argc > i ? std::atoi(argv[i]) : fallback; };
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (mode == "pickup") return Pickup(work, arg(3, 1000), arg(4, 5));
  if (mode == "tick") {
    // One tick alone, for a profiler or strace to look at.
    Folder folder(work, "tick");
    const std::string payload = RandomBytes(4096, 1);
    for (int i = 0; i < arg(3, 1000); ++i) {
      WriteBytes(folder.path() + "/drop" + std::to_string(i) + ".GDT", payload);
    }
    SyncAll();
    std::printf("one tick over %d files: %.1f us per file\n", arg(3, 1000),
                Tick(work, folder.path()) * 1e6 / arg(3, 1000));
    return 0;
  }
  if (mode == "large") return Large(work, arg(3, 1024), arg(4, 3));
  if (mode == "clone") return Clone(work, arg(3, 1024), arg(4, 7));
  // counts() is the counts given from argument `first` on, or `fallback`.
  auto counts = [&](int first, std::vector<int> fallback) {
    std::vector<int> given;
    for (int i = first; i < argc; ++i) given.push_back(std::atoi(argv[i]));
    return given.empty() ? fallback : given;
  };
  if (mode == "scale") return Scale(work, arg(3, 21), counts(4, {10000, 100000, 1000000}));
  if (mode == "memory" && argc > 3) return Memory(work, argv[3]);
  if (mode == "drain" && argc > 4) return Drain(work, argv[3], argv[4], counts(5, {5000, 20000}));
  std::fprintf(stderr, "tick_bench: unknown mode %s\n", mode.c_str());
  return 2;
}
