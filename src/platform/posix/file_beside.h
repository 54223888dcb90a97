// Replacing a file in one step on Linux: the new bytes go into a file beside
// the destination, which is renamed over it once they are on the disk, so a
// reader or a crash never meets a half-written destination. The copy of the
// file-system object and the profile store's writes both go this way. Also
// the one place where the Linux layer splits a path into folder and name.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

#include "platform/posix/unique_fd.h"

namespace quillbeck::posix {

// RandomSuffix() is twelve random lower-case letters and digits.
std::string RandomSuffix();

// NameStart() is where the last name in `path` begins: just after its last
// "/", or 0 for a bare name.
std::size_t NameStart(std::string_view path);

// FolderOf() is the folder holding `path`, as a path the system can open:
// "." for a bare name, "/" for a name in the root.
std::string FolderOf(std::string_view path);

// SyncFolderOf() makes the entries of the folder holding `path` durable, so
// a name just renamed into it survives a power cut. File systems that cannot
// sync a folder (EINVAL) keep their names by other means, and a folder that
// cannot be opened is left to the system; only an I/O error raises.
void SyncFolderOf(const std::string& path);

// SyncFolder() does the same for the open folder `folder`, raising with
// `context`.
void SyncFolder(int folder, const std::string& context);

// RenameNoReplace() renames `from` to `to` unless something named `to`
// exists; false with errno set when it fails. RenameNoReplaceAt() takes
// each name relative to an open folder, as renameat() does.
bool RenameNoReplace(const char* from, const char* to);
bool RenameNoReplaceAt(int from_folder, const char* from, int to_folder, const char* to);

// A new file beside a destination, to be filled and then renamed over it.
// Its name is hidden and ends in ".part" (never ".GDT", so no watcher of
// that folder takes it for a finished file). It is removed again unless
// PutInPlace() succeeds, and it is locked (flock) for as long as it is
// open, which tells RemoveAbandonedBeside() that its writer lives. The
// destination's folder is opened once and every name is made in it, so the
// file lands in the folder that was opened even if its path changes.
class FileBeside {
 public:
  // Whether the destination's folder may be a symbolic link: a settings
  // folder may well be one, a watched folder's Temp never.
  enum class Folder { kMayBeALink, kNeverALink };

  // Creates the empty file, locked without waiting (a name whose lock
  // someone else took at once is given up for another), with the owner's
  // read and write permission while it is filled; PutInPlace() gives it
  // `mode`, under the umask. Raises, naming `destination`, when the
  // destination's folder cannot take it, and naming the folder when it is a
  // symbolic link that `folder` forbids.
  FileBeside(const std::string& destination, mode_t mode, Folder folder = Folder::kMayBeALink);
  ~FileBeside();
  FileBeside(const FileBeside&) = delete;
  FileBeside& operator=(const FileBeside&) = delete;

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }

  // How much of the file a flush makes durable: its bytes and size only, or
  // its attributes (mode, owner) as well.
  enum class Flush { kData, kAll };

  // PutInPlace() flushes the file to the disk, closes it and renames it over
  // the destination (only if there is none, unless `replace`), then makes
  // the new name durable. Raises, naming the destination, on any failure;
  // the destination is then as it was. When `wanted` is given it is asked
  // after the flush, right before the rename: false leaves the destination
  // as it was and the file to go with this object, and PutInPlace() returns
  // false.
  bool PutInPlace(bool replace, Flush flush, const std::function<bool()>& wanted = {});

  // Runs, when set, in every PutInPlace() right before `wanted` is asked:
  // where a test makes something happen at that moment. The program never
  // sets it.
  static std::function<void()> before_put_in_place;

 private:
  // CreateLocked() makes and locks the file in the open folder_; on failure
  // it raises, leaving fd_ either empty or holding the file it made.
  void CreateLocked(mode_t mode);

  std::string destination_;
  std::string name_;            // the destination's name in its folder
  std::string temporary_name_;  // the file's own name in that folder
  std::string path_;
  UniqueFd folder_;
  UniqueFd fd_;  // closed before folder_
  mode_t created_mode_ = 0;
  mode_t final_mode_ = 0;
  bool placed_ = false;
};

// IsNameBeside() is true for exactly the names that FileBeside gives its
// files: ".", the destination's name (1 to 200 bytes), ".quillbeck-",
// twelve lower-case letters or digits, ".part".
bool IsNameBeside(const std::string& name);

// RemoveAbandonedBeside() removes from `folder` every regular file named by
// IsNameBeside() whose writer has died (killed or cut off mid-copy). Never
// follows a symbolic link, neither `folder` itself nor an entry; touches no
// other name. Whatever cannot be examined or removed stays.
void RemoveAbandonedBeside(const std::string& folder) noexcept;

}  // namespace quillbeck::posix
