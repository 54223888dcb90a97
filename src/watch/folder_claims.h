// FolderClaims: the folders that slots' work is under way in, by what each
// folder is rather than how it is spelled, so that `F`, `F/.` and a link to
// `F` are never worked at once. Any thread may call.
#pragma once

#include <mutex>
#include <vector>

#include "platform/file_system.h"

namespace quillbeck {

class FolderClaims {
 public:
  // Claim holds a folder for as long as it lives; an empty one holds none.
  class Claim {
   public:
    Claim() = default;
    Claim(FolderClaims* owner, FileIdentity folder) : owner_(owner), folder_(folder) {}
    ~Claim() {
      if (owner_ != nullptr) owner_->Release(folder_);
    }
    Claim(Claim&& other) noexcept : owner_(other.owner_), folder_(other.folder_) {
      other.owner_ = nullptr;
    }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;
    Claim& operator=(Claim&&) = delete;
    explicit operator bool() const { return owner_ != nullptr; }

   private:
    FolderClaims* owner_ = nullptr;
    FileIdentity folder_;
  };

  // Take() claims `folder`; the claim is empty while another holds it.
  Claim Take(const FileIdentity& folder);

 private:
  void Release(const FileIdentity& folder);

  std::mutex mutex_;
  std::vector<FileIdentity> held_;  // guarded by mutex_
};

}  // namespace quillbeck
