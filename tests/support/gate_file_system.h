// GateFileSystem: the real file system, except that listing one folder
// waits until the test opens the gate, as a share whose server stops
// answering does. Public records of what was asked.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/file_system.h"

namespace quillbeck::testing {

struct GateFileSystem : FileSystem {
  explicit GateFileSystem(FileSystem& real) : real_(real) {}

  std::string gated_folder;             // Files() of it waits for Open()
  std::atomic<int> gated_listings{0};   // how often it was listed

  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }

  std::vector<FileEntry> Files(const std::string& folder, std::string_view suffix) override {
    if (folder == gated_folder) {
      ++gated_listings;
      std::unique_lock<std::mutex> lock(mutex_);
      opened_.wait(lock, [&] { return open_; });
    }
    return real_.Files(folder, suffix);
  }
  bool FolderExists(const std::string& p) override { return real_.FolderExists(p); }
  bool FolderExistsNow(const std::string& p) override { return real_.FolderExistsNow(p); }
  void CreateFolder(const std::string& p) override { real_.CreateFolder(p); }
  bool FileExists(const std::string& p) override { return real_.FileExists(p); }
  std::uint64_t Size(const std::string& p) override { return real_.Size(p); }
  void Move(const std::string& f, const std::string& t) override { real_.Move(f, t); }
  std::optional<FileStamp> CopyFile(const std::string& f, const std::string& t, bool o) override {
    return real_.CopyFile(f, t, o);
  }
  void RemoveAbandonedCopies(const std::string& f) noexcept override {
    real_.RemoveAbandonedCopies(f);
  }
  void DeleteFile(const std::string& p, bool f) override { real_.DeleteFile(p, f); }
  void DeleteCopiedFile(const std::string& p, const FileStamp& s) override {
    real_.DeleteCopiedFile(p, s);
  }
  void AppendText(const std::string& p, const std::string& t) override { real_.AppendText(p, t); }

 private:
  FileSystem& real_;
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;  // guarded by mutex_
};

}  // namespace quillbeck::testing
