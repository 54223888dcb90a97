// The /proc scan behind OpenForWritingElsewhere(). It walks every process's
// descriptor table, so it costs far more than a lease and is used only where
// a lease cannot be had.
#include "platform/posix/open_writers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace quillbeck::posix {

namespace {

bool IsNumber(const char* name) {
  if (*name == '\0') return false;
  for (; *name; ++name) {
    if (*name < '0' || *name > '9') return false;
  }
  return true;
}

// OpenFlags() reads the "flags:" line (octal) of /proc/<pid>/fdinfo/<fd>;
// -1 when it cannot be read, e.g. because the descriptor was closed meanwhile.
long OpenFlags(const std::string& pid, const char* fd) {
  const std::string path = "/proc/" + pid + "/fdinfo/" + fd;
  const int info = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (info < 0) return -1;
  char text[512];
  ssize_t length;
  do {
    length = read(info, text, sizeof text - 1);
  } while (length < 0 && errno == EINTR);
  close(info);
  if (length <= 0) return -1;
  text[length] = '\0';
  const std::string contents(text, static_cast<std::size_t>(length));
  const std::size_t at = contents.find("flags:");
  if (at == std::string::npos) return -1;
  return std::strtol(contents.c_str() + at + 6, nullptr, 8);
}

// HoldsForWriting() is true when process `pid` has the file open for writing.
bool HoldsForWriting(const std::string& pid, dev_t device, ino_t inode) {
  const std::string fd_folder = "/proc/" + pid + "/fd";
  DIR* descriptors = opendir(fd_folder.c_str());
  if (descriptors == nullptr) return false;
  bool holds = false;
  while (const dirent* entry = readdir(descriptors)) {
    if (!IsNumber(entry->d_name)) continue;
    // stat() through the magic link reaches the open file itself.
    struct stat st;
    if (fstatat(dirfd(descriptors), entry->d_name, &st, 0) != 0) continue;
    if (st.st_dev != device || st.st_ino != inode) continue;
    const long flags = OpenFlags(pid, entry->d_name);
    if (flags >= 0 && (flags & O_ACCMODE) != O_RDONLY) {
      holds = true;
      break;
    }
  }
  closedir(descriptors);
  return holds;
}

}  // namespace

bool OpenForWritingElsewhere(dev_t device, ino_t inode) {
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return false;
  const std::string self = std::to_string(getpid());
  bool found = false;
  while (const dirent* entry = readdir(processes)) {
    if (!IsNumber(entry->d_name) || self == entry->d_name) continue;
    if (HoldsForWriting(entry->d_name, device, inode)) {
      found = true;
      break;
    }
  }
  closedir(processes);
  return found;
}

}  // namespace quillbeck::posix
