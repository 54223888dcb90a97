// GateFileSystem: the real file system, except that listing one folder
// waits until the test opens the gate, as a share whose server stops
// answering does. Public records of what was asked.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "support/forwarding_file_system.h"
#include "support/gate.h"

namespace quillbeck::testing {

struct GateFileSystem : ForwardingFileSystem {
  using ForwardingFileSystem::ForwardingFileSystem;

  std::string gated_folder;            // Files() of it waits for Open()
  std::atomic<int> gated_listings{0};  // how often it was listed

  void Open() { gate_.Notify(); }

  std::vector<FileEntry> Files(const std::string& folder, std::string_view suffix) override {
    if (folder == gated_folder) {
      ++gated_listings;
      gate_.WaitForNotification();
    }
    return ForwardingFileSystem::Files(folder, suffix);
  }

 private:
  Gate gate_;
};

}  // namespace quillbeck::testing
