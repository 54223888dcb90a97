#include "watch/folder_claims.h"

#include <algorithm>

namespace quillbeck {

FolderClaims::Claim FolderClaims::Take(const FileIdentity& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(held_.begin(), held_.end(), folder) != held_.end()) return {};
  held_.push_back(folder);
  return {this, folder};
}

void FolderClaims::Release(const FileIdentity& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_.erase(std::find(held_.begin(), held_.end(), folder));
}

}  // namespace quillbeck
