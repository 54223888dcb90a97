// The Linux file-system object. Paths are UTF-8 bytes handed to the system
// unchanged. These go beyond plain system calls, so that a watched folder
// behaves as safely as on Windows:
//  - a copy lands whole or not at all (temporary file, then one rename),
//    and a temporary file left by a copy that died is recognised as such
//    and removed (posix/file_beside.h);
//  - a source still open for writing in another process counts as locked,
//    as Windows' sharing rules would make it;
//  - symbolic links are never followed out of a watched folder, nor into a
//    Temp that is one;
//  - where a writer may be at work out of this machine's sight (a share, a
//    FUSE mount), a file is taken only once it has stopped changing;
//  - the source is deleted only while it is still the file that was copied;
//  - a source that someone else took is no failure, and its copy is
//    dropped if the source left before the copy was put in place.
// "Read-only" means a file without any write permission bit, as the Windows
// attribute does: it holds for root too, who passes every permission check.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/bounded_test.h"
#include "platform/file_system.h"
#include "platform/posix/copy_data.h"
#include "platform/posix/file_beside.h"
#include "platform/posix/listing.h"
#include "platform/posix/open_writers.h"
#include "platform/posix/unique_fd.h"
#include "platform/runtime_error.h"
#include "platform/settling_files.h"

namespace quillbeck {

namespace {

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

FileStamp StampOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::uint64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// WritersOutOfSight() is true for a file on a file system whose files may
// be written where this kernel cannot see it: on another machine (network
// file systems, cluster file systems on a shared disk) or by a FUSE daemon
// through files of its own. A lease there speaks only for this machine.
bool WritersOutOfSight(int fd) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return true;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2 (ksmbd's clients, newer cifs)
    case 0x65735546:  // FUSE (sshfs, a desktop's share mounts, bindfs)
    case 0x00C36400:  // Ceph
    case 0x01021997:  // 9P (virtual machines' shared folders)
    case 0x786F4256:  // vboxsf (VirtualBox shared folders, written by the host)
    case 0x7C7C6673:  // prl_fs (Parallels shared folders)
    case 0xBACBACBC:  // vmhgfs (VMware shared folders, the kernel module)
    case 0x73757245:  // Coda
    case 0x5346414F:  // AFS
    case 0x6B414653:  // kAFS
    case 0x564C:      // NCP
    case 0x01161970:  // GFS2
    case 0x7461636F:  // OCFS2
    case 0x47504653:  // GPFS
    case 0x0BD00BD0:  // Lustre
    case 0x19830326:  // FhGFS / BeeGFS
    case 0xAAD7AAEA:  // PanFS
      return true;
    default: return false;
  }
}

// A read lease on the source for the length of a copy. The kernel grants it
// only while no descriptor anywhere has the file open for writing, which is
// how Linux tells a writer that has not finished; a writer that opens the
// file later breaks the lease, which the copy checks before it commits.
//
// A lease vouches only for this machine's writers, so on a file system
// whose writers may be out of sight none is taken. Where one is refused for
// any reason other than a writer (a file of another owner, a file system
// without leases), the descriptors of all processes are looked up in /proc
// instead (OpenForWritingElsewhere), once before the copy and once after
// it; /proc shows only what we may see, so neither of these vouches.
class SourceLock {
 public:
  SourceLock(int fd, const struct stat& st, const std::string& path)
      : fd_(fd), device_(st.st_dev), inode_(st.st_ino) {
    if (!WritersOutOfSight(fd)) {
      // A broken lease is signalled, by default with SIGIO, whose default
      // action ends the program. SIGURG is ignored unless a handler is set,
      // so a writer arriving mid-copy costs us nothing but the copy.
      if (fcntl(fd, F_SETSIG, SIGURG) == 0 && fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        leased_ = true;
        return;
      }
      if (errno == EAGAIN) RaiseInUse(path);
    }
    if (posix::OpenForWritingElsewhere(device_, inode_)) RaiseInUse(path);
  }
  ~SourceLock() {
    if (leased_) fcntl(fd_, F_SETLEASE, F_UNLCK);
  }
  SourceLock(const SourceLock&) = delete;
  SourceLock& operator=(const SourceLock&) = delete;

  // Vouches() is true when the lease answers for every writer of the file.
  bool Vouches() const { return leased_; }

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

// StillAt() is true while `path` names the file described by `st`, false
// when nothing or another file stands there. Raises when it cannot tell.
bool StillAt(const std::string& path, const struct stat& st) {
  struct stat now;
  if (lstat(path.c_str(), &now) != 0) {
    if (errno == ENOENT) return false;
    RaiseLastSystemError(path);
  }
  return now.st_dev == st.st_dev && now.st_ino == st.st_ino;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class PosixFileSystem : public FileSystem {
 public:
  bool FolderExists(const std::string& path) override { return folder_test_(path); }
  bool FolderExistsNow(const std::string& path) override { return IsFolder(path); }

  void CreateFolder(const std::string& path) override {
    if (mkdir(CPath(path), 0777) != 0) RaiseLastSystemError(path);
  }

  bool FileExists(const std::string& path) override {
    struct stat st;
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  std::vector<FileEntry> Files(const std::string& folder, std::string_view suffix) override {
    DIR* dir = opendir(CPath(folder));
    if (dir == nullptr) RaiseLastSystemError(folder);
    std::vector<FileEntry> files;
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(dir);
      if (entry == nullptr) break;
      if (posix::Listed(dirfd(dir), entry->d_name, entry->d_type, suffix)) {
        files.push_back({entry->d_name, folder + "/" + entry->d_name});
      }
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

  CopyResult CopyFile(const std::string& from, const std::string& to, bool overwrite) override {
    bool gone = false;
    const std::optional<FileStamp> copied = Copy(from, to, overwrite, gone);
    if (gone) return {CopyOutcome::kGone, {}};
    if (!copied) return {CopyOutcome::kStillArriving, {}};
    return {CopyOutcome::kCopied, *copied};
  }

  // Copy() is CopyFile(): the stamp copied, nothing while the source is
  // still arriving, and nothing with `gone` set when someone else took it.
  std::optional<FileStamp> Copy(const std::string& from, const std::string& to, bool overwrite,
                                bool& gone) {
    // O_NONBLOCK: opening a fifo must not wait for a writer, and a file that
    // another program holds a write lease on is busy rather than waited for.
    posix::UniqueFd source(
        open(CPath(from), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (source.get() < 0) {
      if (errno == EWOULDBLOCK) RaiseInUse(from);
      if (errno == ENOENT) {
        gone = true;
        return std::nullopt;
      }
      RaiseLastSystemError(from);
    }
    struct stat st;
    if (fstat(source.get(), &st) != 0) RaiseLastSystemError(from);
    if (S_ISDIR(st.st_mode)) RaiseSystemError(EISDIR, from);
    if (!S_ISREG(st.st_mode)) RaiseSystemError(EINVAL, from);
    struct stat existing;
    if (!overwrite && lstat(CPath(to), &existing) == 0) RaiseSystemError(EEXIST, to);

    SourceLock lock(source.get(), st, from);
    const FileStamp stamp = StampOf(st);
    if (!settling_.Admit(from, stamp, lock.Vouches())) return std::nullopt;
    // The copy gets the source's permissions, as cp gives them.
    posix::FileBeside temporary(to, st.st_mode & 0777, posix::FileBeside::Folder::kNeverALink);
    posix::CopyData(
        source.get(), temporary.fd(), st.st_size, posix::CopyMethod::kClone,
        [&] { lock.CheckLease(from); }, from, to);
    lock.CheckStillFree(from);
    // Written to while it was copied: the copy is dropped, and the file
    // waits until it has stopped changing again.
    const auto stamp_now = [&] {
      struct stat after;
      if (fstat(source.get(), &after) != 0) RaiseLastSystemError(from);
      return StampOf(after);
    };
    if (!settling_.KeepCopy(from, stamp, lock.Vouches(), stamp_now)) return std::nullopt;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(temporary.fd(), times);  // the time stamps are a courtesy
    // The caller deletes the source next: the data and then the new name
    // reach the disk before we return. A source that has left its path by
    // then was taken by someone else, who may have handed it on already: its
    // copy is dropped rather than put there again.
    if (!temporary.PutInPlace(overwrite, posix::FileBeside::Flush::kData,
                              [&] { return StillAt(from, st); })) {
      gone = true;
      return std::nullopt;
    }
    return stamp;
  }

  void DeleteFile(const std::string& path, bool force) override {
    struct stat st;
    if (lstat(CPath(path), &st) != 0) RaiseLastSystemError(path);
    if (S_ISDIR(st.st_mode)) RaiseSystemError(EISDIR, path);
    if (!force && !S_ISLNK(st.st_mode) && IsReadOnly(st)) RaiseSystemError(EACCES, path);
    if (unlink(path.c_str()) != 0) RaiseLastSystemError(path);
  }

  bool DeleteCopiedFile(const std::string& path, const FileStamp& copied) override {
    // Linux cannot remove a file through a descriptor, so the name is
    // checked right before it goes: the gap is one system call wide.
    struct stat st;
    if (lstat(CPath(path), &st) != 0) {
      if (errno == ENOENT) return false;  // someone else took it
      RaiseLastSystemError(path);
    }
    if (!S_ISREG(st.st_mode) || StampOf(st) != copied) {
      throw RuntimeError(EAGAIN, "The file has changed since it was copied: " + path);
    }
    if (unlink(path.c_str()) != 0) {
      if (errno == ENOENT) return false;
      RaiseLastSystemError(path);
    }
    settling_.Forget(path);
    return true;
  }

  std::optional<FileIdentity> FolderIdentity(const std::string& path) override {
    if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
    // O_PATH: a folder that may be entered but not read is known all the
    // same; the descriptor is the folder itself, links followed.
    posix::UniqueFd folder(open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (folder.get() < 0 || fstat(folder.get(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
  }

  void AppendText(const std::string& path, const std::string& text) override {
    posix::UniqueFd file(
        open(CPath(path), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666));
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

 private:
  BoundedTest folder_test_{IsFolder, kExistenceTestLimit};
  SettlingFiles settling_;
};

}  // namespace

bool posix::Listed(int folder, const char* name, unsigned char type, std::string_view suffix) {
  if (type != DT_REG && type != DT_UNKNOWN) return false;
  if (!EndsWithIgnoreCase(name, suffix)) return false;
  if (type == DT_REG) return true;
  struct stat st;
  return fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

std::unique_ptr<FileSystem> NewFileSystem() { return std::make_unique<PosixFileSystem>(); }

const char* PathSeparator() { return "/"; }

}  // namespace quillbeck
