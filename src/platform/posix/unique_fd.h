// The owner of a Linux file descriptor: whatever opens a descriptor hands it
// to a UniqueFd at once, so no early return and no exception, a throwing
// constructor's included, can leave it open.
#pragma once

#include <unistd.h>

namespace quillbeck::posix {

// UniqueFd owns a descriptor (or none, as -1) and closes it when it goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  int get() const noexcept { return fd_; }
  // valid() is false for an owner of no descriptor, as a failed open() leaves one.
  bool valid() const noexcept { return fd_ >= 0; }

  // release() gives the descriptor up without closing it; the owner holds
  // none afterwards.
  int release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

  // reset() closes the descriptor held so far, if any, and takes `fd`
  // instead.
  void reset(int fd = -1) noexcept {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

  // Close() closes the descriptor now and returns the system's verdict, 0 or
  // -1 with errno set: some file systems report a failed write only here.
  // The owner holds none afterwards.
  int Close() noexcept {
    const int result = close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_ = -1;
};

}  // namespace quillbeck::posix
