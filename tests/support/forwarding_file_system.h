// ForwardingFileSystem: a FileSystem that hands every call to another one,
// the real file system as a rule. A fake derives from it and overrides only
// the calls it changes. The threads that may call the target may call it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace quillbeck::testing {

class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& target) : target_(target) {}

  bool FolderExists(const std::string& path) override { return target_.FolderExists(path); }
  bool FolderExistsNow(const std::string& path) override { return target_.FolderExistsNow(path); }
  void CreateFolder(const std::string& path) override { target_.CreateFolder(path); }
  bool FileExists(const std::string& path) override { return target_.FileExists(path); }
  std::vector<FileEntry> Files(const std::string& folder, std::string_view suffix) override {
    return target_.Files(folder, suffix);
  }
  std::uint64_t Size(const std::string& path) override { return target_.Size(path); }
  void Move(const std::string& from, const std::string& to) override { target_.Move(from, to); }
  CopyResult CopyFile(const std::string& from, const std::string& to, bool overwrite) override {
    return target_.CopyFile(from, to, overwrite);
  }
  void RemoveAbandonedCopies(const std::string& folder) noexcept override {
    target_.RemoveAbandonedCopies(folder);
  }
  void DeleteFile(const std::string& path, bool force) override { target_.DeleteFile(path, force); }
  bool DeleteCopiedFile(const std::string& path, const FileStamp& copied) override {
    return target_.DeleteCopiedFile(path, copied);
  }
  std::optional<FileIdentity> FolderIdentity(const std::string& path) override {
    return target_.FolderIdentity(path);
  }
  void AppendText(const std::string& path, const std::string& text) override {
    target_.AppendText(path, text);
  }

 private:
  FileSystem& target_;
};

}  // namespace quillbeck::testing
