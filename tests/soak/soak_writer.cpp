// soak_writer: one of the soak test's dropping processes.
//
//   soak_writer ROOT ID ROLE PACE_MS [COUNT SLOT]
//
// Roles:
//   mixed     whole files written in one go, some read-only, some under a
//             temporary name renamed into place, names in every letter case,
//             now and then a file that must not be picked up (a decoy);
//   slow      files written a chunk at a time over 0.5 to 3 s, held open;
//   readonly  read-only files only;
//   reuse     the same names again and again: a new version is written only
//             once the previous one has been seen whole in Temp, so every
//             version can be checked exactly;
//   burst     COUNT files into SLOT at once, then exit;
//   hold      one file into SLOT, held open for writing, half written, until
//             control/release appears; then finished and closed.
// PACE_MS is the mean pause between two files. control/pause makes a writer
// finish its file and wait; control/stop makes it finish and exit.
//
// Every file is recorded in records/writer-ID.log only once it is closed:
//   drop SLOT NAME WRITER SEQUENCE VERSION LENGTH KIND
//   decoy SLOT NAME                  (must stay where it is)
//   verified SLOT NAME VERSION       (reuse: this version was seen in Temp)
//   unverified SLOT NAME VERSION     (reuse: it was not, within the bound)
//   holding SLOT NAME                (hold: the file is open, half written)
// A reused name's version counts as seen in Temp also when the driver has
// already moved it on into the slot's archive folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "soak_files.h"

namespace {

using namespace std::chrono_literals;

std::string root;
int id = 0;
std::string manifest;
std::mt19937_64 rng;

long Random(long low, long high) { return std::uniform_int_distribution<long>(low, high)(rng); }

void Sleep(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool Stopping() { return soak::Exists(soak::Control(root, "stop")); }

// WaitWhilePaused() returns once control/pause is gone (or stop is set).
void WaitWhilePaused() {
  while (soak::Exists(soak::Control(root, "pause")) && !Stopping()) Sleep(100);
}

void WriteAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::perror("soak_writer: write");
      std::exit(1);
    }
    done += static_cast<std::size_t>(n);
  }
}

int Create(const std::string& path, mode_t mode) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    std::perror(("soak_writer: create " + path).c_str());
    std::exit(1);
  }
  return fd;
}

std::size_t RandomLength() {
  const long pick = Random(0, 99);
  if (pick == 0) return static_cast<std::size_t>(Random(512 * 1024, 1024 * 1024));
  if (pick < 10) return static_cast<std::size_t>(Random(0, 64));
  return static_cast<std::size_t>(Random(64, 32 * 1024));
}

std::string Suffix() {
  switch (Random(0, 5)) {
    case 0: return ".gdt";
    case 1: return ".Gdt";
    default: return ".GDT";
  }
}

void Record(const std::string& line) { soak::AppendLine(manifest, line); }

void RecordDrop(int slot, const soak::Header& h, const char* kind) {
  Record("drop " + std::to_string(slot) + " " + h.name + " " + std::to_string(h.writer) + " " +
         std::to_string(h.sequence) + " " + std::to_string(h.version) + " " +
         std::to_string(h.length) + " " + kind);
}

long sequence = 0;

soak::Header NextHeader(const std::string& name) {
  soak::Header h;
  h.name = name;
  h.writer = id;
  h.sequence = ++sequence;
  h.version = 1;
  h.length = RandomLength();
  return h;
}

// DropWhole() writes a file in one go (read-only when asked), or under a
// temporary name that is then renamed into place.
void DropWhole(int slot, bool read_only, bool by_rename) {
  soak::Header h =
      NextHeader("w" + std::to_string(id) + "-" + std::to_string(sequence + 1) + Suffix());
  const std::string path = soak::Watched(root, slot) + "/" + h.name;
  const std::string written = by_rename ? soak::Watched(root, slot) + "/." + h.name + ".tmp" : path;
  const int fd = Create(written, read_only ? 0444 : 0644);
  WriteAll(fd, soak::Contents(h));
  close(fd);
  if (by_rename && rename(written.c_str(), path.c_str()) != 0) {
    std::perror("soak_writer: rename");
    std::exit(1);
  }
  RecordDrop(slot, h, read_only ? "readonly" : by_rename ? "rename" : "whole");
}

// DropSlowly() writes a file a chunk at a time over `total_ms`, holding it
// open all the while.
void DropSlowly(int slot, long total_ms) {
  soak::Header h =
      NextHeader("w" + std::to_string(id) + "-" + std::to_string(sequence + 1) + Suffix());
  const std::string bytes = soak::Contents(h);
  const int fd = Create(soak::Watched(root, slot) + "/" + h.name, 0644);
  constexpr int kChunks = 10;
  for (int i = 0; i < kChunks; ++i) {
    const std::size_t from = bytes.size() * i / kChunks, to = bytes.size() * (i + 1) / kChunks;
    WriteAll(fd, bytes.substr(from, to - from));
    Sleep(total_ms / kChunks);
  }
  close(fd);
  RecordDrop(slot, h, "slow");
}

void DropDecoy(int slot) {
  static constexpr const char* kEndings[] = {".GDT.bak", ".gdtx", "GDT", ".GD", ".txt"};
  const std::string name =
      "w" + std::to_string(id) + "-decoy" + std::to_string(++sequence) + kEndings[Random(0, 4)];
  const int fd = Create(soak::Watched(root, slot) + "/" + name, 0644);
  WriteAll(fd, "not for pick-up\n");
  close(fd);
  Record("decoy " + std::to_string(slot) + " " + name);
}

// Reuse: the same name per slot, version after version.
void DropVersion(int slot, long& version) {
  soak::Header h;
  h.name = "w" + std::to_string(id) + "-same-" + std::to_string(slot) + ".GDT";
  h.writer = id;
  h.sequence = slot;
  h.version = ++version;
  h.length = RandomLength() % 8192;
  const std::string source = soak::Watched(root, slot) + "/" + h.name;
  // A version is read-only now and then, so a read-only copy in Temp is
  // replaced by the next one.
  const int fd = Create(source, h.version % 3 == 0 ? 0444 : 0644);
  WriteAll(fd, soak::Contents(h));
  close(fd);
  RecordDrop(slot, h, "reuse");
  // Wait, within a bound, for this very version to be whole in Temp.
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  std::string bytes;
  soak::Header seen;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!soak::Exists(source)) {
      for (const std::string& folder : {soak::Temp(root, slot), soak::Archive(root, slot)}) {
        if (soak::ReadAll(folder + "/" + h.name, bytes) &&
            soak::Check(h.name, bytes, seen).empty() && seen.version == h.version) {
          Record("verified " + std::to_string(slot) + " " + h.name + " " +
                 std::to_string(h.version));
          return;
        }
      }
    }
    Sleep(50);
  }
  Record("unverified " + std::to_string(slot) + " " + h.name + " " + std::to_string(h.version));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s ROOT ID ROLE PACE_MS [COUNT SLOT]\n", argv[0]);
    return 2;
  }
  root = argv[1];
  id = std::atoi(argv[2]);
  const std::string role = argv[3];
  const long pace = std::atol(argv[4]);
  manifest = soak::Records(root) + "/writer-" + std::to_string(id) + ".log";
  rng.seed(static_cast<std::uint64_t>(id) * 7919 + static_cast<std::uint64_t>(getpid()));

  if (role == "hold") {
    // One file in SLOT, half written and held open for writing until
    // control/release appears (or a minute has passed), then finished.
    const int slot = argc > 6 ? std::atoi(argv[6]) : 3;
    soak::Header h = NextHeader("held-w" + std::to_string(id) + ".GDT");
    h.length = 4096;
    const std::string bytes = soak::Contents(h);
    const int fd = Create(soak::Watched(root, slot) + "/" + h.name, 0644);
    WriteAll(fd, bytes.substr(0, bytes.size() / 2));
    Record("holding " + std::to_string(slot) + " " + h.name);
    for (int i = 0; i < 600 && !soak::Exists(soak::Control(root, "release")); ++i) Sleep(100);
    WriteAll(fd, bytes.substr(bytes.size() / 2));
    close(fd);
    RecordDrop(slot, h, "held");
    return 0;
  }
  if (role == "burst") {
    const int count = argc > 5 ? std::atoi(argv[5]) : 1;
    const int slot = argc > 6 ? std::atoi(argv[6]) : 1;
    for (int i = 0; i < count; ++i) DropWhole(slot, false, false);
    return 0;
  }

  // A subfolder named like a ".GDT" file, with such a file inside: neither
  // may ever be touched.
  const int folder_slot = static_cast<int>(Random(1, 5));
  const std::string folder =
      soak::Watched(root, folder_slot) + "/w" + std::to_string(id) + "-folder.GDT";
  if (mkdir(folder.c_str(), 0755) == 0) {
    const int fd = Create(folder + "/inner.GDT", 0644);
    WriteAll(fd, "inside a subfolder\n");
    close(fd);
    Record("decoy " + std::to_string(folder_slot) + " w" + std::to_string(id) + "-folder.GDT");
  }

  long versions[6] = {};
  while (!Stopping()) {
    WaitWhilePaused();
    if (Stopping()) break;
    const int slot = static_cast<int>(Random(1, 5));
    if (role == "slow") {
      DropSlowly(slot, Random(500, 3000));
      Sleep(Random(pace / 2, pace * 3 / 2));
      continue;
    }
    if (role == "reuse") {
      DropVersion(slot, versions[slot]);
      Sleep(Random(0, pace));
      continue;
    }
    const long pick = Random(0, 99);
    if (role == "readonly") {
      DropWhole(slot, true, false);
    } else if (pick < 5) {
      DropDecoy(slot);
    } else if (pick < 20) {
      DropWhole(slot, true, false);
    } else if (pick < 30) {
      DropWhole(slot, false, true);
    } else {
      DropWhole(slot, false, false);
    }
    Sleep(Random(pace / 2, pace * 3 / 2));
  }
  return 0;
}
