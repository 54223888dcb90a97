// The file-system object: every folder and file operation of Quillbeck.
// Any thread may call it, several at once: the window's thread for the log
// writers, each slot's thread for its folder's work.
//
// Paths are UTF-8 text used as the caller built them: nothing is trimmed or
// normalised. Every failure raises RuntimeError (runtime_error.h); the
// existence tests never raise.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillbeck {

// One entry of a folder's Files collection.
struct FileEntry {
  std::string Name;  // the file's name without its folder, as stored
  std::string Path;  // the folder path as given, the separator, and Name
  // False for a link (Windows: a symbolic link, a junction or a mount
  // point), which leads out of the folder and is never picked up.
  bool Regular = true;
};

// What a copy read: which file it was (its device or volume and its number
// there) and the state it was in (size, last-write time). Two stamps are
// equal only for the same file unchanged.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // in the system's own units
  bool operator==(const FileStamp&) const = default;
};

// Which folder (or file) a path names: its device or volume and its number
// there. However a path is spelled, one folder has one identity.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};

// What a copy did.
enum class CopyOutcome { kCopied, kStillArriving, kGone };
struct CopyResult {
  CopyOutcome outcome = CopyOutcome::kCopied;
  FileStamp source;  // the source as it was copied; kCopied only
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // FolderExists() is true when a folder of that path exists; false for an
  // empty or malformed path, a file, or anything that cannot be examined.
  // It answers within half a second: a folder whose test takes longer (a
  // share whose server has gone) counts as missing, and while that test is
  // still outstanding, every later one of the same path answers false at
  // once, so no folder holds more than one waiting test.
  virtual bool FolderExists(const std::string& path) = 0;

  // FolderExistsNow() is the same test without the time limit: it answers
  // when the system does, however long that takes. For work that runs away
  // from the window's thread, which may wait, and which the limit's own
  // thread would only cost a hand-over per test.
  virtual bool FolderExistsNow(const std::string& path) = 0;

  // CreateFolder() creates the folder, whose parent must exist. Raises when
  // anything (a folder, a file) of that name already stands there or the
  // folder cannot be made.
  virtual void CreateFolder(const std::string& path) = 0;

  // FileExists() is true when a file (not a folder) of that path exists.
  virtual bool FileExists(const std::string& path) = 0;

  // Files() lists the files lying directly in an existing folder whose
  // name ends in `suffix`, ignoring ASCII letter case (an empty suffix lists
  // them all): never subfolders nor what is inside them. On Linux only
  // regular files are listed: a symbolic link is never followed, so a link
  // is not listed. On Windows a link is listed with Regular false; a file
  // that carries another reparse tag (a cloud file, say) is regular. The
  // order is the system's. Any other entry costs its read from the folder
  // and the test of its name, nothing more: a folder full of other files
  // costs no more memory than an empty one. Raises when the folder cannot be
  // read.
  virtual std::vector<FileEntry> Files(const std::string& folder, std::string_view suffix) = 0;

  // Size() is the size of an existing file in bytes. Raises when it cannot
  // be read.
  virtual std::uint64_t Size(const std::string& path) = 0;

  // Move() moves a file to a new path, possibly renaming it. Raises when the
  // destination already exists or the move fails.
  virtual void Move(const std::string& from, const std::string& to) = 0;

  // CopyFile() copies `from` to `to` and gives kCopied with the stamp of the
  // source as it was copied. The destination appears whole or not at all: the
  // bytes are written under a temporary name beside it that does not end in
  // ".GDT" and then renamed over it in one step. With `overwrite` an existing
  // destination is replaced even when it is read-only; without it an
  // existing destination raises. A source that another process still holds
  // open for writing counts as locked and raises (on Linux a read lease
  // tells it; Windows refuses the share by itself). Symbolic links are not
  // followed on Linux, and the destination's folder is never a link: a
  // folder that is a symbolic link, a junction or a mount point raises,
  // naming it. On Windows only those are links: a file or folder that
  // carries another reparse tag (a cloud-sync client's, deduplication's) is
  // copied and written into like any other.
  //
  // Where no lease or sharing mode can vouch for the source (Linux: a
  // network or FUSE file system, or a lease refused for another reason than
  // a writer here; Windows: a network drive), a writer may be at work where
  // this machine cannot see it. Such a source is copied only once it has
  // stayed the same (device, file number, size, last-write time) since a
  // call for its path at least one period (2000 ms) earlier, and only if it
  // stays so while it is copied; otherwise nothing is done and the outcome
  // is kStillArriving, which is no failure. A link is never followed on
  // either system: on Windows it raises, naming it.
  //
  // A source that someone else took (another copy of Quillbeck, another
  // machine) gives kGone, which is no failure either: one missing when it
  // is opened, and one gone from its path by the time its copy would be put
  // in place, whose copy is then dropped, so a consumer of the destination's
  // folder never finds again a file it has already taken. A missing
  // destination folder still raises.
  virtual CopyResult CopyFile(const std::string& from, const std::string& to, bool overwrite) = 0;

  // RemoveAbandonedCopies() removes from `folder` every temporary copy that
  // CopyFile() began there and that no living copy of Quillbeck still writes
  // (one killed mid-copy leaves such a file behind). Only the temporary
  // names that CopyFile() makes are ever touched, never a file another
  // program put there. Never raises: a copy that cannot be examined or
  // removed stays for a later call.
  virtual void RemoveAbandonedCopies(const std::string& folder) noexcept = 0;

  // DeleteFile() removes a file; with `force` a read-only file is removed too.
  // Raises when the file is missing or cannot be removed.
  virtual void DeleteFile(const std::string& path, bool force) = 0;

  // DeleteCopiedFile() removes the file that CopyFile() copied, read-only or
  // not, but only while the file at `path` is still the one described by
  // `copied`: one put there under the same name since, or changed since,
  // stays, and the call raises as for a file locked by another process.
  // Returns false, and does nothing, when no file stands at `path` any more
  // (someone else took it).
  virtual bool DeleteCopiedFile(const std::string& path, const FileStamp& copied) = 0;

  // FolderIdentity() is which folder `path` names (following links), so
  // that `F`, `F/.`, `./F`, another letter case on Windows and a link to the
  // folder all give one answer; nullopt when no folder stands there (an
  // empty path, a file, anything that cannot be examined). Any thread may
  // call it; it answers when the system does, however long that takes.
  // Never raises.
  virtual std::optional<FileIdentity> FolderIdentity(const std::string& path) = 0;

  // AppendText() opens the file for appending (creating it when missing),
  // writes `text` and closes it again: nothing stays open between calls. On
  // Windows the UTF-8 text is written in the ANSI code page, as log files
  // are read there. Raises when the file cannot be opened or written.
  virtual void AppendText(const std::string& path, const std::string& text) = 0;
};

// NewFileSystem() makes the file-system object of this system.
std::unique_ptr<FileSystem> NewFileSystem();

// PathSeparator() is "\" on Windows and "/" on Linux: every path that
// Quillbeck builds joins its parts with it by plain concatenation.
const char* PathSeparator();

}  // namespace quillbeck
