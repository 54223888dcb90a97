// soak_reader: the command of every slot in the soak test.
//
//   soak_reader ROOT SLOT
//
// Started once per picked-up file, it first lists its own open descriptors
// (anything beyond 0, 1 and 2 was leaked to it by the program that started
// it), then reads every ".GDT" file that reached its slot's Temp in the last
// few seconds and checks that each is whole. One line per start goes to
// records/reader-SLOT.log:
//   start PID checked=N bad=M fds=LIST
// followed by a line "bad NAME REASON" for each file that was not whole.
#include <dirent.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "soak_files.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  // Before anything of ours is opened.
  std::string leaked;
  if (DIR* fds = opendir("/proc/self/fd")) {
    const int own = dirfd(fds);
    while (const dirent* entry = readdir(fds)) {
      if (entry->d_name[0] == '.') continue;
      const int fd = std::atoi(entry->d_name);
      if (fd <= 2 || fd == own) continue;
      char target[512] = {};
      const std::string link = std::string("/proc/self/fd/") + entry->d_name;
      if (readlink(link.c_str(), target, sizeof target - 1) < 0) target[0] = '?';
      leaked += (leaked.empty() ? "" : ",") + std::to_string(fd) + ":" + target;
    }
    closedir(fds);
  }

  const std::string root = argv[1];
  const int slot = std::atoi(argv[2]);
  const std::string temp = soak::Temp(root, slot);
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  int checked = 0;
  std::string bad;
  for (const std::string& name : soak::Names(temp)) {
    if (!soak::EndsInGdt(name)) continue;
    struct stat st;
    if (lstat((temp + "/" + name).c_str(), &st) != 0) continue;
    // The rename into Temp sets the change time: only recent arrivals.
    if (now.tv_sec - st.st_ctim.tv_sec > 5) continue;
    std::string bytes;
    if (!soak::ReadAll(temp + "/" + name, bytes)) continue;  // replaced meanwhile
    soak::Header header;
    const std::string why = soak::Check(name, bytes, header);
    ++checked;
    if (!why.empty()) bad += "\nbad " + name + " " + why;
  }
  const std::size_t bad_count = bad.empty() ? 0 : std::count(bad.begin(), bad.end(), '\n');
  soak::AppendLine(soak::Records(root) + "/reader-" + std::to_string(slot) + ".log",
                   "start " + std::to_string(getpid()) + " checked=" + std::to_string(checked) +
                       " bad=" + std::to_string(bad_count) +
                       " fds=" + (leaked.empty() ? "-" : leaked) + bad);
  return 0;
}
