// Moving a file's bytes into a new file on Linux, the fastest way the two
// file systems allow.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace quillbeck::posix {

// The ways of copying, fastest first. Each one that a file system refuses
// hands the work to the next.
enum class CopyMethod {
  kClone,     // one call sharing the extents (XFS, btrfs), however large the file
  kRange,     // copy_file_range: in the kernel, possibly on the server
  kSendfile,  // sendfile: in the kernel, through the page cache
  kBuffer,    // read and write through a buffer of ours
};

// CopyData() copies everything from `in` (at its start) to the empty `out`,
// `size` bytes as fstat told, starting with `first` and falling back along
// the list where a method is refused. `between_chunks` runs after every
// chunk (and after a clone), so a long copy can give up early. Raises,
// naming `from` for a failed read and `to` for a failed write.
void CopyData(int in, int out, off_t size, CopyMethod first,
              const std::function<void()>& between_chunks, const std::string& from,
              const std::string& to);

}  // namespace quillbeck::posix
