#include "platform/posix/copy_data.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/runtime_error.h"

namespace quillbeck::posix {

void CopyData(int in, int out, off_t size, CopyMethod first,
              const std::function<void()>& between_chunks, const std::string& from,
              const std::string& to) {
  // Any failure of the clone (no shared extents, another file system, an
  // unaligned tail...) leaves the work to the chunked copy. A failed clone
  // never makes `out` longer than the source, and the copy rewrites it from
  // its start, since the clone moves neither file's offset.
  if (first == CopyMethod::kClone && size > 0 && ioctl(out, FICLONE, in) == 0) {
    between_chunks();
    return;
  }
  CopyMethod method = first == CopyMethod::kClone ? CopyMethod::kRange : first;
  constexpr std::size_t kChunk = std::size_t{64} << 20;
  std::vector<char> buffer;
  off_t copied = 0;
  for (;;) {
    ssize_t n;
    if (method == CopyMethod::kRange) {
      n = copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
      if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                    errno == EBADF)) {
        method = CopyMethod::kSendfile;
        continue;
      }
      // Some file systems report the end at once for files they generate.
      if (n == 0 && copied == 0 && size > 0) {
        method = CopyMethod::kBuffer;
        continue;
      }
    } else if (method == CopyMethod::kSendfile) {
      n = sendfile(out, in, nullptr, kChunk);
      if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
        method = CopyMethod::kBuffer;
        continue;
      }
    } else {
      if (buffer.empty()) buffer.resize(std::size_t{1} << 20);
      n = read(in, buffer.data(), buffer.size());
      if (n < 0 && errno != EINTR) RaiseLastSystemError(from);
      for (ssize_t written = 0; n > 0 && written < n;) {
        const ssize_t w =
            write(out, buffer.data() + written, static_cast<std::size_t>(n - written));
        if (w < 0 && errno != EINTR) RaiseLastSystemError(to);
        if (w > 0) written += w;
      }
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseLastSystemError(to);
    }
    if (n == 0) return;
    copied += n;
    between_chunks();
  }
}

}  // namespace quillbeck::posix
