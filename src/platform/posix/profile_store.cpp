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
#include <string>

#include "platform/ini_text.h"
#include "platform/posix/file_beside.h"
#include "platform/posix/unique_fd.h"
#include "platform/profile_store.h"
#include "platform/runtime_error.h"

namespace quillbeck {

namespace {

// ReadWhole() is the contents of the file at `path`; nullopt when it cannot
// be read at all.
std::optional<std::string> ReadWhole(const std::string& path) {
  if (path.find('\0') != std::string::npos) return std::nullopt;
  posix::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) return std::nullopt;
  std::string contents;
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      fd.reset();
      errno = error;
      return std::nullopt;
    }
    if (n == 0) break;
    contents.append(chunk, static_cast<std::size_t>(n));
  }
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

// ReplaceFile() makes the file at `path` hold `bytes`: written to a new file
// beside it, given the old file's mode and owner, flushed to the disk, then
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

  // A new settings file gets the usual mode under the umask; a replaced one
  // keeps its own.
  posix::FileBeside temporary(path, exists ? 0600 : 0666);
  WriteAll(temporary.fd(), bytes, path);
  if (exists) {
    // An owner change may be refused; the mode is set after it because
    // fchown clears the set-id bits.
    if (fchown(temporary.fd(), old.st_uid, old.st_gid) != 0) { /* keep ours */
    }
    if (fchmod(temporary.fd(), old.st_mode & 07777) != 0) RaiseLastSystemError(path);
  }
  temporary.PutInPlace(true, posix::FileBeside::Flush::kAll);
}

// WithoutTrailingBlanks() is a default as the system's profile API hands it
// back: without its trailing blanks (spaces only: no tabs), but keeping its
// first character, so a default of blanks alone gives one blank.
std::string WithoutTrailingBlanks(const std::string& text) {
  std::size_t end = text.size();
  while (end > 1 && text[end - 1] == ' ') --end;
  return text.substr(0, end);
}

class PosixProfileStore : public ProfileStore {
 public:
  std::uint32_t GetString(const std::string& section, const std::string& key,
                          const std::string& default_value, std::string& buffer, std::uint32_t size,
                          const std::string& path, bool* cut) override {
    std::optional<std::string> value;
    if (const std::optional<std::string> contents = ReadWhole(path)) {
      value = FindProfileValue(*contents, section, key);
    }
    const std::string text = value ? *value : WithoutTrailingBlanks(default_value);
    const std::size_t count = ProfileCutLength(text, size);
    if (buffer.size() < count) buffer.resize(count);
    std::copy_n(text.begin(), count, buffer.begin());
    if (cut != nullptr) *cut = count < text.size();
    return static_cast<std::uint32_t>(count);
  }

  void CheckValue(const std::string& key, const std::string& value) override {
    // The file holds any other text, in its stored form.
    if (const char* refusal = ProfileValueRefusal(value)) {
      throw RuntimeError(EINVAL,
                         std::string("A settings value cannot hold ") + refusal + ": " + key);
    }
  }

  void WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& path) override {
    CheckValue(key, section);
    CheckValue(key, key);
    CheckValue(key, value);
    if (path.empty() || path.find('\0') != std::string::npos) RaiseSystemError(EINVAL, path);
    std::string contents;
    if (access(path.c_str(), F_OK) == 0) {
      std::optional<std::string> read = ReadWhole(path);
      if (!read) RaiseLastSystemError(path);
      contents = std::move(*read);
    }
    ReplaceFile(path, SetProfileValue(contents, section, key, ProfileStoredForm(value)));
  }
};

}  // namespace

std::unique_ptr<ProfileStore> NewProfileStore() { return std::make_unique<PosixProfileStore>(); }

}  // namespace quillbeck
