// soak_scanner: reads the five Temp folders over and over while the soak
// test runs and checks that every ".GDT" file it ever finds there is whole.
//
//   soak_scanner ROOT
//
// A file is read again whenever its inode, size or change time differ from
// the last read. Runs until control/scanner-stop appears, then writes
// records/scanner.log:
//   scanner passes=N reads=M bad=K
// and a line "bad SLOT NAME REASON" for each file that was not whole.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <tuple>

#include "soak_files.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string root = argv[1];
  using Seen = std::tuple<ino_t, off_t, long, long>;
  std::map<std::string, Seen> seen;
  long passes = 0, reads = 0;
  std::string bad;
  long bad_count = 0;
  while (!soak::Exists(soak::Control(root, "scanner-stop"))) {
    ++passes;
    for (int slot = 1; slot <= 5; ++slot) {
      const std::string temp = soak::Temp(root, slot);
      for (const std::string& name : soak::Names(temp)) {
        if (!soak::EndsInGdt(name)) continue;
        const std::string path = temp + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        const Seen now{st.st_ino, st.st_size, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
        auto [it, added] = seen.try_emplace(path, now);
        if (!added && it->second == now) continue;
        it->second = now;
        std::string bytes;
        if (!soak::ReadAll(path, bytes)) continue;
        ++reads;
        soak::Header header;
        const std::string why = soak::Check(name, bytes, header);
        if (!why.empty()) {
          ++bad_count;
          bad += "\nbad " + std::to_string(slot) + " " + name + " " + why;
        }
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  soak::AppendLine(soak::Records(root) + "/scanner.log",
                   "scanner passes=" + std::to_string(passes) + " reads=" + std::to_string(reads) +
                       " bad=" + std::to_string(bad_count) + bad);
  return 0;
}
