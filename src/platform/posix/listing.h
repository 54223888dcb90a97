// The Linux listing's decision for one entry of a folder, on its own so a
// case can hand it an entry type that the file system at hand would never
// give (DT_UNKNOWN, as some FUSE daemons and older XFS report every entry).
// A plain function, safe on any thread.
#pragma once

#include <string_view>

namespace quillbeck::posix {

// Listed() is true when the entry `name` of the folder open as `folder`
// (a descriptor), whose directory entry says `type` (a d_type), is a
// regular file whose name ends in `suffix`, ignoring ASCII letter case. A
// symbolic link is never followed, so a link is never listed. Only a name
// that ends in `suffix` costs more than the test of the name: where the
// entry's type is unknown, a look at the entry itself.
bool Listed(int folder, const char* name, unsigned char type, std::string_view suffix);

}  // namespace quillbeck::posix
