// The Linux file-system object. Paths are UTF-8 bytes handed to the system
// unchanged. Three things go beyond plain system calls, so that a watched
// folder behaves as safely as on Windows:
//  - a copy lands whole or not at all (temporary file, then one rename),
//    and a temporary file left by a copy that died is recognised as such
//    and removed (posix/file_beside.h);
//  - a source still open for writing in another process counts as locked,
//    as Windows' sharing rules would make it;
//  - symbolic links are never followed out of a watched folder.
// "Read-only" means a file without any write permission bit, as the Windows
// attribute does: it holds for root too, who passes every permission check.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/posix/file_beside.h"
#include "platform/posix/open_writers.h"
#include "platform/runtime_error.h"

namespace quillbeck {

namespace {

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Close() closes now and reports the system's verdict: some file systems
  // report a failed write only here.
  int Close() {
    const int result = close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// CPath() is `path` for a system call. A path holding a zero byte would name
// a different file to the system, so it is refused.
const char* CPath(const std::string& path) {
  if (path.find('\0') != std::string::npos) RaiseSystemError(EINVAL, path);
  return path.c_str();
}

bool IsReadOnly(const struct stat& st) { return (st.st_mode & 0222) == 0; }

[[noreturn]] void RaiseInUse(const std::string& path) {
  throw RuntimeError(EAGAIN, "The file is still open for writing in another process: " + path);
}

// A read lease on the source for the length of a copy. The kernel grants it
// only while no descriptor anywhere has the file open for writing, which is
// how Linux tells a writer that has not finished; a writer that opens the
// file later breaks the lease, which the copy checks before it commits.
//
// Fallback: a lease needs the file's owner (or CAP_LEASE) and a file system
// that has leases. Where F_SETLEASE refuses for any other reason than a
// writer, the descriptors of all processes are looked up in /proc instead
// (OpenForWritingElsewhere), once before the copy and once after it.
class SourceLock {
 public:
  SourceLock(int fd, const struct stat& st, const std::string& path)
      : fd_(fd), device_(st.st_dev), inode_(st.st_ino) {
    // A broken lease is signalled, by default with SIGIO, whose default
    // action ends the program. SIGURG is ignored unless a handler is set, so
    // a writer arriving mid-copy costs us nothing but the copy.
    if (fcntl(fd, F_SETSIG, SIGURG) == 0 && fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
      leased_ = true;
      return;
    }
    if (errno == EAGAIN) RaiseInUse(path);
    if (posix::OpenForWritingElsewhere(device_, inode_)) RaiseInUse(path);
  }
  ~SourceLock() {
    if (leased_) fcntl(fd_, F_SETLEASE, F_UNLCK);
  }
  SourceLock(const SourceLock&) = delete;
  SourceLock& operator=(const SourceLock&) = delete;

  // CheckLease() raises when a writer has come for the file since the lease
  // was taken; cheap, so a long copy asks between its chunks and the writer
  // waits for one chunk at most.
  void CheckLease(const std::string& path) const {
    if (leased_ && fcntl(fd_, F_GETLEASE) != F_RDLCK) RaiseInUse(path);
  }

  // CheckStillFree() raises when a writer has opened the file since.
  void CheckStillFree(const std::string& path) const {
    const bool taken = leased_ ? fcntl(fd_, F_GETLEASE) != F_RDLCK
                               : posix::OpenForWritingElsewhere(device_, inode_);
    if (taken) RaiseInUse(path);
  }

 private:
  int fd_;
  dev_t device_;
  ino_t inode_;
  bool leased_ = false;
};

// CopyData() copies everything from `in` (at its start) to the empty `out`:
// as a clone of the whole file where the file system shares extents (XFS,
// btrfs), which takes one call however large the file; else in the kernel
// where it can (copy_file_range, else sendfile), through a buffer where it
// cannot. Between chunks it makes sure that no writer has come for the
// source.
void CopyData(int in, int out, off_t size, const SourceLock& lock, const std::string& from,
              const std::string& to) {
  // Any failure of the clone (no shared extents, another file system, an
  // unaligned tail...) leaves the work to the chunked copy. A failed clone
  // never makes `out` longer than the source, and the copy rewrites it from
  // its start, since the clone moves neither file's offset.
  if (size > 0 && ioctl(out, FICLONE, in) == 0) {
    lock.CheckLease(from);
    return;
  }
  enum class Method { kRange, kSendfile, kBuffer } method = Method::kRange;
  constexpr std::size_t kChunk = std::size_t{64} << 20;
  std::vector<char> buffer;
  off_t copied = 0;
  for (;;) {
    ssize_t n;
    if (method == Method::kRange) {
      n = copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
      if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                    errno == EBADF)) {
        method = Method::kSendfile;
        continue;
      }
      // Some file systems report the end at once for files they generate.
      if (n == 0 && copied == 0 && size > 0) {
        method = Method::kBuffer;
        continue;
      }
    } else if (method == Method::kSendfile) {
      n = sendfile(out, in, nullptr, kChunk);
      if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
        method = Method::kBuffer;
        continue;
      }
    } else {
      if (buffer.empty()) buffer.resize(std::size_t{1} << 20);
      n = read(in, buffer.data(), buffer.size());
      if (n < 0 && errno != EINTR) RaiseLastSystemError(from);
      for (ssize_t written = 0; n > 0 && written < n;) {
        const ssize_t w =
            write(out, buffer.data() + written, static_cast<std::size_t>(n - written));
        if (w < 0 && errno != EINTR) RaiseLastSystemError(to);
        if (w > 0) written += w;
      }
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseLastSystemError(to);
    }
    if (n == 0) return;
    copied += n;
    lock.CheckLease(from);
  }
}

class PosixFileSystem : public FileSystem {
 public:
  bool FolderExists(const std::string& path) override {
    struct stat st;
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  void CreateFolder(const std::string& path) override {
    if (mkdir(CPath(path), 0777) != 0) RaiseLastSystemError(path);
  }

  bool FileExists(const std::string& path) override {
    struct stat st;
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  std::vector<FileEntry> Files(const std::string& folder) override {
    DIR* dir = opendir(CPath(folder));
    if (dir == nullptr) RaiseLastSystemError(folder);
    std::vector<FileEntry> files;
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(dir);
      if (entry == nullptr) break;
      bool regular = entry->d_type == DT_REG;
      if (entry->d_type == DT_UNKNOWN) {
        struct stat st;
        regular = fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                  S_ISREG(st.st_mode);
      }
      if (regular) files.push_back({entry->d_name, folder + "/" + entry->d_name});
    }
    const int error = errno;
    closedir(dir);
    if (error != 0) RaiseSystemError(error, folder);
    return files;
  }

  void RemoveAbandonedCopies(const std::string& folder) noexcept override {
    posix::RemoveAbandonedBeside(folder);
  }

  std::uint64_t Size(const std::string& path) override {
    struct stat st;
    if (stat(CPath(path), &st) != 0) RaiseLastSystemError(path);
    if (S_ISDIR(st.st_mode)) RaiseSystemError(EISDIR, path);
    return static_cast<std::uint64_t>(st.st_size);
  }

  void Move(const std::string& from, const std::string& to) override {
    if (!posix::RenameNoReplace(CPath(from), CPath(to))) {
      RaiseLastSystemError(errno == EEXIST ? to : from);
    }
  }

  void CopyFile(const std::string& from, const std::string& to, bool overwrite) override {
    // O_NONBLOCK: opening a fifo must not wait for a writer, and a file that
    // another program holds a write lease on is busy rather than waited for.
    Descriptor source(open(CPath(from), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (source.get() < 0) {
      if (errno == EWOULDBLOCK) RaiseInUse(from);
      RaiseLastSystemError(from);
    }
    struct stat st;
    if (fstat(source.get(), &st) != 0) RaiseLastSystemError(from);
    if (S_ISDIR(st.st_mode)) RaiseSystemError(EISDIR, from);
    if (!S_ISREG(st.st_mode)) RaiseSystemError(EINVAL, from);
    struct stat existing;
    if (!overwrite && lstat(CPath(to), &existing) == 0) RaiseSystemError(EEXIST, to);

    SourceLock lock(source.get(), st, from);
    // The copy gets the source's permissions, as cp gives them.
    posix::FileBeside temporary(to, st.st_mode & 0777);
    CopyData(source.get(), temporary.fd(), st.st_size, lock, from, to);
    lock.CheckStillFree(from);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(temporary.fd(), times);  // the time stamps are a courtesy
    // The caller deletes the source next: the data and then the new name
    // reach the disk before we return.
    temporary.PutInPlace(overwrite, posix::FileBeside::Flush::kData);
  }

  void DeleteFile(const std::string& path, bool force) override {
    struct stat st;
    if (lstat(CPath(path), &st) != 0) RaiseLastSystemError(path);
    if (S_ISDIR(st.st_mode)) RaiseSystemError(EISDIR, path);
    if (!force && !S_ISLNK(st.st_mode) && IsReadOnly(st)) RaiseSystemError(EACCES, path);
    if (unlink(path.c_str()) != 0) RaiseLastSystemError(path);
  }

  void AppendText(const std::string& path, const std::string& text) override {
    Descriptor file(open(CPath(path), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666));
    if (file.get() < 0) RaiseLastSystemError(path);
    struct stat st;
    if (fstat(file.get(), &st) == 0 && IsReadOnly(st)) RaiseSystemError(EACCES, path);
    for (std::size_t written = 0; written < text.size();) {
      const ssize_t n = write(file.get(), text.data() + written, text.size() - written);
      if (n < 0) {
        if (errno == EINTR) continue;
        RaiseLastSystemError(path);
      }
      written += static_cast<std::size_t>(n);
    }
    if (file.Close() != 0) RaiseLastSystemError(path);
  }
};

}  // namespace

std::unique_ptr<FileSystem> NewFileSystem() { return std::make_unique<PosixFileSystem>(); }

const char* PathSeparator() { return "/"; }

}  // namespace quillbeck
