// Small Linux services: where the executable lies, the time stamp under the
// environment's LC_TIME, the clock, the single-instance lock and the address
// where a running copy hears open requests.
#include <fcntl.h>
#include <limits.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "platform/posix/file_beside.h"
#include "platform/posix/unique_fd.h"
#include "platform/system.h"

namespace quillbeck {

std::string ExecutableFolder() {
  std::string path(PATH_MAX, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
    // Without /proc the working folder is the best guess there is.
    char* cwd = getcwd(nullptr, 0);
    const std::string folder = cwd != nullptr ? cwd : ".";
    free(cwd);
    return folder;
  }
  path.resize(static_cast<std::size_t>(length));
  return posix::FolderOf(path);
}

namespace {

// The LC_TIME of the environment as a locale object of its own, so the
// process's global locale is neither read nor changed (the front end sets
// that as it sees fit, from any thread). The C locale where the environment
// names one that is not installed.
locale_t TimeLocale() {
  static const locale_t locale = [] {
    locale_t wanted = newlocale(LC_TIME_MASK, "", locale_t{});
    return wanted != locale_t{} ? wanted : newlocale(LC_TIME_MASK, "C", locale_t{});
  }();
  return locale;
}

std::string Format(const char* format, const struct tm& time) {
  char text[256];
  const locale_t locale = TimeLocale();
  const std::size_t length = locale != locale_t{}
                                 ? strftime_l(text, sizeof text, format, &time, locale)
                                 : strftime(text, sizeof text, format, &time);
  return std::string(text, length);
}

}  // namespace

namespace {

class StrftimeTimeStampFormat : public TimeStampFormat {
 public:
  std::string Format(std::time_t t) override {
    struct tm local {};
    if (localtime_r(&t, &local) == nullptr) return std::string();
    if (local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0) {
      return quillbeck::Format("%x", local);
    }
    return quillbeck::Format("%x %X", local);
  }
};

class SystemClock : public Clock {
 public:
  std::time_t Now() override { return std::time(nullptr); }
};

// The lock file is removed again by the copy that held it, so the folder
// does not fill with the files of install folders long gone. Removing it
// while still holding the lock, and checking after each flock that the name
// still leads to the locked file, keeps two copies from ever holding locks
// on two different files of the same name.
class FlockInstanceLock : public SingleInstanceLock {
 public:
  explicit FlockInstanceLock(bool acquired) : acquired_(acquired) {}
  FlockInstanceLock(posix::UniqueFd fd, std::string path)
      : fd_(std::move(fd)), acquired_(true), path_(std::move(path)) {}
  ~FlockInstanceLock() override {
    // The name goes while the lock is still held (fd_ closes after this).
    if (fd_.valid()) unlink(path_.c_str());
  }
  bool Acquired() const override { return acquired_; }

 private:
  posix::UniqueFd fd_;
  bool acquired_;
  std::string path_;
};

// FNV-1a: a stable name for a folder, not a secret.
std::uint64_t Hash(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

std::unique_ptr<Clock> NewSystemClock() { return std::make_unique<SystemClock>(); }

namespace {

// OwnPrivateFolder() is whether `path` is a real folder of this user that
// nobody else may enter.
bool OwnPrivateFolder(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
         (st.st_mode & 077) == 0;
}

// RuntimeFolder() is the user's runtime folder as the session names it, or
// empty when it names none.
std::string RuntimeFolder() {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr && runtime[0] == '/' ? runtime : "";
}

// InstanceName() is "quillbeck-<uid>-<hash of the folder>": the same for
// every path that leads to the same folder.
std::string InstanceName(const std::string& folder) {
  // The same folder reached through another path is the same program.
  std::string canonical = folder;
  if (char* resolved = realpath(folder.c_str(), nullptr)) {
    canonical = resolved;
    free(resolved);
  }
  char name[96];
  std::snprintf(name, sizeof name, "quillbeck-%lu-%016llx", static_cast<unsigned long>(getuid()),
                static_cast<unsigned long long>(Hash(canonical)));
  return name;
}

std::unique_ptr<SingleInstanceLock> AcquireFlock(const std::string& folder) {
  const std::string runtime = RuntimeFolder();
  const std::string path =
      (runtime.empty() ? "/tmp" : runtime) + "/" + InstanceName(folder) + ".lock";

  // Anything but a lock held elsewhere counts as acquired: a broken lock
  // folder must never keep the service from running.
  for (int attempt = 0; attempt < 100; ++attempt) {
    posix::UniqueFd fd(
        open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
    if (!fd.valid()) break;
    // In a shared /tmp another user could plant the file and hold it: only a
    // lock file of our own can say that we already run.
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || st.st_uid != getuid()) break;
    int result;
    do {
      result = flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
      if (errno == EWOULDBLOCK) return std::make_unique<FlockInstanceLock>(false);
      break;
    }
    // The holder before us may have removed the file meanwhile: then this
    // lock is on a file nobody else will find, and the name is tried anew.
    struct stat named;
    if (stat(path.c_str(), &named) == 0 && named.st_dev == st.st_dev && named.st_ino == st.st_ino) {
      return std::make_unique<FlockInstanceLock>(std::move(fd), path);
    }
  }
  return std::make_unique<FlockInstanceLock>(true);
}

class FlockSingleInstance : public SingleInstance {
 public:
  std::unique_ptr<SingleInstanceLock> Acquire(const std::string& folder) override {
    return AcquireFlock(folder);
  }
};

}  // namespace

std::string OpenRequestAddress(const std::string& folder) {
  // The runtime folder is the user's own; without one, a folder of our own
  // in the temporary folder, so that no other user can plant the socket or
  // reach it.
  std::string base = RuntimeFolder();
  if (base.empty() || !OwnPrivateFolder(base)) {
    base = "/tmp/quillbeck-" + std::to_string(getuid());
    if (mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
    if (!OwnPrivateFolder(base)) return std::string();
  }
  return base + "/" + InstanceName(folder) + ".sock";
}

std::unique_ptr<SingleInstance> NewSingleInstance() {
  return std::make_unique<FlockSingleInstance>();
}

std::unique_ptr<TimeStampFormat> NewTimeStampFormat() {
  return std::make_unique<StrftimeTimeStampFormat>();
}

}  // namespace quillbeck
