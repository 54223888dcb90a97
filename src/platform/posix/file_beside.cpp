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

std::size_t NameStart(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? 0 : slash + 1;
}

std::string FolderOf(std::string_view path) {
  const std::size_t start = NameStart(path);
  if (start == 0) return ".";
  if (start == 1) return "/";
  return std::string(path.substr(0, start - 1));
}

void SyncFolderOf(const std::string& path) {
  const UniqueFd folder(open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) return;
  SyncFolder(folder.get(), path);
}

void SyncFolder(int folder, const std::string& context) {
  if (fsync(folder) != 0 && errno == EIO) RaiseSystemError(EIO, context);
}

bool RenameNoReplace(const char* from, const char* to) {
  return RenameNoReplaceAt(AT_FDCWD, from, AT_FDCWD, to);
}

bool RenameNoReplaceAt(int from_folder, const char* from, int to_folder, const char* to) {
  if (renameat2(from_folder, from, to_folder, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link cannot replace anything.
  if (linkat(from_folder, from, to_folder, to, 0) == 0) {
    unlinkat(from_folder, from, 0);
    return true;
  }
  if (errno == EEXIST) return false;
  // Nor hard links (or a folder is moved): test, then rename.
  struct stat st;
  if (fstatat(to_folder, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return false;
  }
  return renameat(from_folder, from, to_folder, to) == 0;
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

// LockExclusively() takes the writer's lock on a file it has just created,
// without waiting: only someone else who opened the new file at once can
// hold it, and the tick must not wait for them. False when it is held.
bool LockExclusively(int fd) {
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    // A file system without locks: the writer goes on without one.
    return errno != EWOULDBLOCK;
  }
}

}  // namespace

FileBeside::FileBeside(const std::string& destination, mode_t mode, Folder folder)
    : destination_(destination), name_(destination.substr(NameStart(destination))) {
  const std::string folder_path = FolderOf(destination);
  // The folder is held open from here to the rename, so the file is created
  // and named in the very folder that was checked, whatever happens to its
  // path meanwhile.
  const int no_follow = folder == Folder::kNeverALink ? O_NOFOLLOW : 0;
  folder_.reset(open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | no_follow));
  if (!folder_.valid()) {
    struct stat st;
    // O_DIRECTORY makes a link answer ENOTDIR rather than ELOOP.
    if (no_follow != 0 && lstat(folder_path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      throw RuntimeError(
          ELOOP, "The folder is a symbolic link, which is never written through: " + folder_path);
    }
    RaiseLastSystemError(destination);
  }
  try {
    CreateLocked(mode);
  } catch (...) {
    // The destructor does not run for an object never made: the members
    // close what the constructor opened, and the file it made goes here.
    if (fd_.valid()) unlinkat(folder_.get(), temporary_name_.c_str(), 0);
    throw;
  }
}

void FileBeside::CreateLocked(mode_t mode) {
  std::string stem = name_;
  // Room for the hidden-file dot and the suffix within a name's 255 bytes.
  if (stem.size() > kMaxNameLength) stem.resize(kMaxNameLength);
  // The owner may always read and write the file while it is filled, so
  // that a sweeper running as the owner can open an abandoned one.
  const mode_t creation = (mode & 07777) | 0600;
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && !fd_.valid(); ++attempt) {
    temporary_name_ = "." + stem + kMark + RandomSuffix() + kEnd;
    fd_.reset(openat(folder_.get(), temporary_name_.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, creation));
    if (!fd_.valid()) {
      if (errno != EEXIST) RaiseLastSystemError(destination_);
      continue;
    }
    if (!LockExclusively(fd_.get())) {
      // Someone opened and locked the new file at once; it is left to them
      // and another name taken.
      error = EWOULDBLOCK;
      unlinkat(folder_.get(), temporary_name_.c_str(), 0);
      fd_.reset();
    }
  }
  if (!fd_.valid()) RaiseSystemError(error, destination_);
  path_ = destination_.substr(0, NameStart(destination_)) + temporary_name_;
  struct stat st;
  created_mode_ = fstat(fd_.get(), &st) == 0 ? st.st_mode & 07777 : creation;
  // The mode asked for under the same umask: the owner's bits that `mode`
  // lacks come off again.
  final_mode_ = created_mode_ & ~(0600 & ~mode);
}

FileBeside::~FileBeside() {
  // The name goes while the file is still locked (fd_ closes after this).
  if (!placed_ && fd_.valid()) unlinkat(folder_.get(), temporary_name_.c_str(), 0);
}

std::function<void()> FileBeside::before_put_in_place;

bool FileBeside::PutInPlace(bool replace, Flush flush, const std::function<bool()>& wanted) {
  if (final_mode_ != created_mode_ && fchmod(fd_.get(), final_mode_) != 0) {
    RaiseLastSystemError(destination_);
  }
  // Without the flush, a power cut within the kernel's writeback delay could
  // leave the new name on an empty file. It also reports a failed write.
  const int flushed = flush == Flush::kAll ? fsync(fd_.get()) : fdatasync(fd_.get());
  if (flushed != 0) RaiseLastSystemError(destination_);
  if (before_put_in_place) before_put_in_place();
  if (wanted && !wanted()) return false;
  const char* from = temporary_name_.c_str();
  const int folder = folder_.get();
  const bool renamed = replace ? renameat(folder, from, folder, name_.c_str()) == 0
                               : RenameNoReplaceAt(folder, from, folder, name_.c_str());
  if (!renamed) RaiseLastSystemError(destination_);
  placed_ = true;
  // Only now may the lock go. Some file systems report a failed write only
  // when the file is closed; the destination, though in place, is then not
  // trusted, and the caller's failure leaves its source for another try.
  if (fd_.Close() != 0) RaiseLastSystemError(destination_);
  SyncFolder(folder, destination_);
  return true;
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
  const UniqueFd fd(
      openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) return;
  struct stat st;
  struct timespec now;
  if (fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && flock(fd.get(), LOCK_EX | LOCK_NB) == 0 &&
      clock_gettime(CLOCK_REALTIME, &now) == 0 &&
      (st.st_size > 0 || now.tv_sec - st.st_ctim.tv_sec > kEmptyFileGrace)) {
    struct stat named;
    if (fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == st.st_dev &&
        named.st_ino == st.st_ino) {
      unlinkat(folder, name, 0);
    }
  }
}

}  // namespace

void RemoveAbandonedBeside(const std::string& folder) noexcept {
  if (folder.empty() || folder.find('\0') != std::string::npos) return;
  UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return;
  DIR* dir = fdopendir(fd.get());
  if (dir == nullptr) return;
  fd.release();  // closedir() closes it now
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
