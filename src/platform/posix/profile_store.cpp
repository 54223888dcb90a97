// The Linux profile store: the file's bytes go through the INI text engine
// (ini_text.h); a write replaces the whole file in one rename, so a reader
// or a crash never meets a half-written settings file.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <random>
#include <string>

#include "platform/ini_text.h"
#include "platform/profile_store.h"
#include "platform/runtime_error.h"

namespace quillbeck {

namespace {

// ReadWhole() is the contents of the file at `path`; nullopt when it cannot
// be read at all.
std::optional<std::string> ReadWhole(const std::string& path) {
  if (path.find('\0') != std::string::npos) return std::nullopt;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::string contents;
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      close(fd);
      errno = error;
      return std::nullopt;
    }
    if (n == 0) break;
    contents.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return contents;
}

void WriteAll(int fd, const std::string& bytes, const std::string& path) {
  for (std::size_t written = 0; written < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseLastSystemError(path);
    }
    written += static_cast<std::size_t>(n);
  }
}

std::string RandomSuffix() {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string suffix(12, ' ');
  for (char& c : suffix) c = kDigits[generator() % 16];
  return suffix;
}

// ReplaceFile() makes the file at `path` hold `bytes`: written to a new file
// beside it, flushed to the disk, given the old file's mode and owner, then
// renamed over it.
void ReplaceFile(std::string path, const std::string& bytes) {
  struct stat old;
  bool exists = lstat(path.c_str(), &old) == 0;
  if (exists && S_ISLNK(old.st_mode)) {
    // Replace the file a link points at, not the link.
    char target[PATH_MAX];
    if (realpath(path.c_str(), target) != nullptr) {
      path = target;
      exists = lstat(path.c_str(), &old) == 0;
    }
  }
  if (exists) {
    // rename() would replace a read-only file, and root passes every access
    // check: the missing write bits are what make a file read-only here, as
    // the attribute does on Windows.
    if ((old.st_mode & 0222) == 0) RaiseSystemError(EACCES, path);
    if (access(path.c_str(), W_OK) != 0) RaiseLastSystemError(path);
  }

  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = path + ".quillbeck-" + RandomSuffix();
    // A new settings file gets the usual mode under the umask.
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
              exists ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) RaiseLastSystemError(path);
  }
  if (fd < 0) RaiseSystemError(EEXIST, path);
  try {
    WriteAll(fd, bytes, path);
    if (exists) {
      // An owner change may be refused; the mode is set after it because
      // fchown clears the set-id bits.
      if (fchown(fd, old.st_uid, old.st_gid) != 0) { /* keep ours */ }
      if (fchmod(fd, old.st_mode & 07777) != 0) RaiseLastSystemError(path);
    }
    if (fsync(fd) != 0) RaiseLastSystemError(path);
    const int closed = close(fd);
    fd = -1;
    if (closed != 0) RaiseLastSystemError(path);
    if (rename(temporary.c_str(), path.c_str()) != 0) RaiseLastSystemError(path);
  } catch (...) {
    if (fd >= 0) close(fd);
    unlink(temporary.c_str());
    throw;
  }
  // Make the rename itself durable; a failure here loses nothing written.
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

class PosixProfileStore : public ProfileStore {
 public:
  std::uint32_t GetString(const std::string& section, const std::string& key,
                          const std::string& default_value, std::string& buffer,
                          std::uint32_t size, const std::string& path) override {
    std::optional<std::string> value;
    if (const std::optional<std::string> contents = ReadWhole(path)) {
      value = FindProfileValue(*contents, section, key);
    }
    const std::string& text = value ? *value : default_value;
    const std::size_t count = ProfileCutLength(text, size);
    if (buffer.size() < count) buffer.resize(count);
    std::copy_n(text.begin(), count, buffer.begin());
    return static_cast<std::uint32_t>(count);
  }

  void WriteString(const std::string& section, const std::string& key,
                   const std::string& value, const std::string& path) override {
    if (ProfileTextHoldsLineBreak(section) || ProfileTextHoldsLineBreak(key) ||
        ProfileTextHoldsLineBreak(value)) {
      throw RuntimeError(EINVAL, "A settings value cannot hold a line break: " + key);
    }
    if (path.empty() || path.find('\0') != std::string::npos) RaiseSystemError(EINVAL, path);
    std::string contents;
    if (access(path.c_str(), F_OK) == 0) {
      std::optional<std::string> read = ReadWhole(path);
      if (!read) RaiseLastSystemError(path);
      contents = std::move(*read);
    }
    ReplaceFile(path, SetProfileValue(contents, section, key, value));
  }
};

}  // namespace

std::unique_ptr<ProfileStore> NewProfileStore() { return std::make_unique<PosixProfileStore>(); }

}  // namespace quillbeck
