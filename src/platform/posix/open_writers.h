// Who holds a file open for writing, seen through /proc: the fallback of the
// copy's lock test where a read lease cannot be taken (a file of another
// user without CAP_LEASE, a file system without leases).
#pragma once

#include <sys/types.h>

namespace quillbeck::posix {

// OpenForWritingElsewhere() is true when a process other than this one holds
// a descriptor on the file `device`/`inode` opened for writing (O_WRONLY or
// O_RDWR, read from /proc/<pid>/fdinfo). Processes whose descriptors cannot
// be examined (those of other users, for an unprivileged caller) are not
// seen.
bool OpenForWritingElsewhere(dev_t device, ino_t inode);

}  // namespace quillbeck::posix
