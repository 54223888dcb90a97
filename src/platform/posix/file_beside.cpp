#include "platform/posix/file_beside.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
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

// Who owns a file beside, provably, across processes and installations:
//  - Its writer takes an exclusive flock on it right after creating it,
//    before its first byte, and keeps the lock until after the rename has
//    taken the name away: the descriptor stays open until then. A writer
//    that dies (SIGKILL, a power cut aside) loses the lock with its
//    descriptors, and nothing else ever gives it up.
//  - A sweeper removes a file only while it holds that same lock itself
//    (LOCK_NB: no waiting), so no living writer has the file. It has to
//    rule out one moment: a writer between its open() and its flock(),
//    whose file is still empty. So a file is removed only when it holds
//    bytes, which a writer wrote under the lock and has since let go of, or
//    when it was created more than a minute ago; no writer waits a minute
//    between two system calls unless it is stopped, and even that writer
//    loses no data: its rename fails, so the copy raises and its source
//    stays where it was.
//  - Before removing, the sweeper makes sure that the name still belongs to
//    the file it locked. No writer ever creates an existing name (O_EXCL)
//    or renames anything onto a name of this kind, so the name cannot change
//    hands between that test and the unlink.
// Where a file system has no locks at all, the writer goes on without one;
// a sweeper cannot lock the file there either, so it stays.
namespace {

constexpr char kMark[] = ".quillbeck-";
constexpr char kEnd[] = ".part";
constexpr std::size_t kSuffixLength = 12;
constexpr std::size_t kMaxNameLength = 200;
constexpr time_t kEmptyFileGrace = 60;  // seconds

void LockExclusively(int fd) {
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

}  // namespace

FileBeside::FileBeside(const std::string& destination, mode_t mode) : destination_(destination) {
  const std::size_t slash = destination.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
  std::string name = destination.substr(slash == std::string::npos ? 0 : slash + 1);
  // Room for the hidden-file dot and the suffix within a name's 255 bytes.
  if (name.size() > kMaxNameLength) name.resize(kMaxNameLength);
  // The owner may always read and write the file while it is filled, so
  // that a sweeper running as the owner can open an abandoned one.
  const mode_t creation = (mode & 07777) | 0600;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = folder + "." + name + kMark + RandomSuffix() + kEnd;
    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, creation);
    if (fd_ >= 0) break;
    if (errno != EEXIST) RaiseLastSystemError(destination);
  }
  if (fd_ < 0) RaiseSystemError(EEXIST, destination);
  LockExclusively(fd_);
  struct stat st;
  created_mode_ = fstat(fd_, &st) == 0 ? st.st_mode & 07777 : creation;
  // The mode asked for under the same umask: the owner's bits that `mode`
  // lacks come off again.
  final_mode_ = created_mode_ & ~(0600 & ~mode);
}

FileBeside::~FileBeside() {
  // The name goes while the file is still locked.
  if (!placed_) unlink(path_.c_str());
  if (fd_ >= 0) close(fd_);
}

void FileBeside::PutInPlace(bool replace, Flush flush) {
  if (final_mode_ != created_mode_ && fchmod(fd_, final_mode_) != 0) {
    RaiseLastSystemError(destination_);
  }
  // Without the flush, a power cut within the kernel's writeback delay could
  // leave the new name on an empty file. It also reports a failed write.
  const int flushed = flush == Flush::kAll ? fsync(fd_) : fdatasync(fd_);
  if (flushed != 0) RaiseLastSystemError(destination_);
  const bool renamed = replace ? rename(path_.c_str(), destination_.c_str()) == 0
                               : RenameNoReplace(path_.c_str(), destination_.c_str());
  if (!renamed) RaiseLastSystemError(destination_);
  placed_ = true;
  // Only now may the lock go. Some file systems report a failed write only
  // when the file is closed; the destination, though in place, is then not
  // trusted, and the caller's failure leaves its source for another try.
  const int closed = close(fd_);
  fd_ = -1;
  if (closed != 0) RaiseLastSystemError(destination_);
  SyncFolderOf(destination_);
}

bool IsNameBeside(const std::string& name) {
  constexpr std::size_t mark = sizeof kMark - 1;
  constexpr std::size_t end = sizeof kEnd - 1;
  if (name.size() < 1 + 1 + mark + kSuffixLength + end) return false;
  const std::size_t suffix_at = name.size() - end - kSuffixLength;
  const std::size_t mark_at = suffix_at - mark;
  if (name[0] != '.' || mark_at - 1 > kMaxNameLength) return false;
  if (name.compare(mark_at, mark, kMark) != 0 || name.compare(name.size() - end, end, kEnd) != 0) {
    return false;
  }
  for (std::size_t i = suffix_at; i < suffix_at + kSuffixLength; ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

namespace {

// RemoveIfAbandoned() removes the entry `name` of the folder `folder` if it
// is a file beside that no living writer holds (see above).
void RemoveIfAbandoned(int folder, const char* name) {
  // O_NONBLOCK: a fifo of that name must not hold the sweep up.
  const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return;
  struct stat st;
  struct timespec now;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      clock_gettime(CLOCK_REALTIME, &now) == 0 &&
      (st.st_size > 0 || now.tv_sec - st.st_ctim.tv_sec > kEmptyFileGrace)) {
    struct stat named;
    if (fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == st.st_dev &&
        named.st_ino == st.st_ino) {
      unlinkat(folder, name, 0);
    }
  }
  close(fd);
}

}  // namespace

void RemoveAbandonedBeside(const std::string& folder) noexcept {
  if (folder.empty() || folder.find('\0') != std::string::npos) return;
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return;
  }
  try {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
      const std::string name = entry->d_name;
      if (IsNameBeside(name)) RemoveIfAbandoned(dirfd(dir), name.c_str());
    }
  } catch (...) {
    // Out of memory for a name: what is left waits for the next sweep.
  }
  closedir(dir);
}

}  // namespace quillbeck::posix
