#include "platform/posix/file_beside.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>

#include "platform/runtime_error.h"

namespace quillbeck::posix {

std::string RandomSuffix() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string suffix(12, ' ');
  for (char& c : suffix) c = kLetters[pick(generator)];
  return suffix;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void SyncFolderOf(const std::string& path) {
  const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return;
  const bool failed = fsync(folder) != 0 && errno == EIO;
  close(folder);
  if (failed) RaiseSystemError(EIO, path);
}

bool RenameNoReplace(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link cannot replace anything.
  if (link(from, to) == 0) {
    unlink(from);
    return true;
  }
  if (errno == EEXIST) return false;
  // Nor hard links (or a folder is moved): test, then rename.
  struct stat st;
  if (lstat(to, &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return rename(from, to) == 0;
}

FileBeside::FileBeside(const std::string& destination, mode_t mode) : destination_(destination) {
  const std::size_t slash = destination.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
  std::string name = destination.substr(slash == std::string::npos ? 0 : slash + 1);
  // Room for the hidden-file dot and the suffix within a name's 255 bytes.
  if (name.size() > 200) name.resize(200);
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = folder + "." + name + ".quillbeck-" + RandomSuffix() + ".part";
    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd_ >= 0) return;
    if (errno != EEXIST) RaiseLastSystemError(destination);
  }
  RaiseSystemError(EEXIST, destination);
}

FileBeside::~FileBeside() {
  if (fd_ >= 0) close(fd_);
  if (!placed_) unlink(path_.c_str());
}

void FileBeside::PutInPlace(bool replace, Flush flush) {
  // Without the flush, a power cut within the kernel's writeback delay could
  // leave the new name on an empty file.
  const int flushed = flush == Flush::kAll ? fsync(fd_) : fdatasync(fd_);
  if (flushed != 0) RaiseLastSystemError(destination_);
  // Some file systems report a failed write only when the file is closed.
  const int closed = close(fd_);
  fd_ = -1;
  if (closed != 0) RaiseLastSystemError(destination_);
  const bool renamed = replace ? rename(path_.c_str(), destination_.c_str()) == 0
                               : RenameNoReplace(path_.c_str(), destination_.c_str());
  if (!renamed) RaiseLastSystemError(destination_);
  placed_ = true;
  SyncFolderOf(destination_);
}

}  // namespace quillbeck::posix
