// Reaping the children that Quillbeck starts, so none stays a zombie, with
// one thread for all of them however many run.
#pragma once

#include <sys/types.h>

namespace quillbeck::posix {

// ReapWhenEnded() has the child `pid`, started by this process and not yet
// waited for, reaped as soon as it ends, without blocking the caller. Only
// the children handed to it are ever waited for: never any other child of
// the process (no waitpid(-1), no SIGCHLD handler).
void ReapWhenEnded(pid_t pid) noexcept;

}  // namespace quillbeck::posix
