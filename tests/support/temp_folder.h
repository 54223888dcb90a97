// A real temporary folder for one test, removed with everything in it when
// the test ends (read-only entries included).
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/file_system.h"

namespace quillbeck::testing {

// FsPath() reads a UTF-8 path as std::filesystem does on every system (on
// Windows a plain std::string would be taken in the ANSI code page).
inline std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Utf8() is the UTF-8 text of a path.
inline std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    root_ = std::filesystem::temp_directory_path() /
            ("quillbeck-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(root_);
  }
  ~TempFolder() {
    // Read-only entries are made writable first so everything goes; no
    // failure here may end the test program.
    std::error_code ignored;
    std::filesystem::recursive_directory_iterator it(root_, ignored), end;
    for (; !ignored && it != end; it.increment(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(root_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Path() is the folder as the system writes it (UTF-8), no trailing separator.
  std::string Path() const { return Utf8(root_); }

  // Join() is Path(), the system's separator and `relative`.
  std::string Join(const std::string& relative) const {
    return Path() + PathSeparator() + relative;
  }

  // Make() creates a subfolder (and its parents) and returns its path.
  std::string Make(const std::string& relative) const {
    std::filesystem::create_directories(FsPath(Join(relative)));
    return Join(relative);
  }

 private:
  std::filesystem::path root_;
};

// WriteFile() writes `bytes` to `path`, replacing it.
inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
  out << bytes;
}

// ReadFile() is the bytes of `path`, empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool Exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(FsPath(path), ignored);
}

}  // namespace quillbeck::testing
