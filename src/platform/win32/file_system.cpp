// The Windows file-system object: the wide file APIs, with UTF-8 paths
// converted at the seam so any file name works.
//
// Files() gives each entry the Path "folder as given" + "\" + name, like the
// Linux one: a folder text that already ends in a separator gives a doubled
// one, which Windows reads as one. The only exception is a bare drive ("D:"),
// which names the current folder of that drive: there the name follows
// directly ("D:a.GDT"), since "D:\a.GDT" would be another file.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/bounded_test.h"
#include "platform/file_system.h"
#include "platform/runtime_error.h"
#include "platform/settling_files.h"
#include "platform/win32/temporary_copy.h"
#include "platform/win32/text_conversion.h"
#include "platform/win32/windows_api.h"

namespace quillbeck {

namespace {

using win32::UniqueFind;
using win32::UniqueHandle;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// IsBareDrive() is true for "D:", the current folder of drive D.
template <typename Text>
bool IsBareDrive(const Text& path) {
  return path.size() == 2 && path[1] == ':';
}

// Wide() converts a path for an API that changes something, raising for a
// path that no file can have.
std::wstring Wide(const std::string& path) {
  std::wstring wide;
  if (path.empty() || !win32::SystemPath(path, wide)) RaiseSystemError(ERROR_INVALID_NAME, path);
  return wide;
}

// Attributes() is the attributes of a path, INVALID_FILE_ATTRIBUTES for a
// missing or malformed one.
DWORD Attributes(const std::string& path) {
  std::wstring wide;
  if (path.empty() || !win32::SystemPath(path, wide)) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(wide.c_str());
}

[[noreturn]] void RaiseLast(const std::string& context) {
  const DWORD error = GetLastError();
  RaiseSystemError(static_cast<std::int32_t>(error), context);
}

// ClearReadOnly() takes the read-only attribute off a file and returns the
// attributes it had, or INVALID_FILE_ATTRIBUTES when there was nothing to do.
DWORD ClearReadOnly(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !(attributes & FILE_ATTRIBUTE_READONLY))
    return INVALID_FILE_ATTRIBUTES;
  DWORD cleared = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (cleared == 0) cleared = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileAttributesW(path.c_str(), cleared)) return INVALID_FILE_ATTRIBUTES;
  return attributes;
}

// RestoreAttributes() puts back what ClearReadOnly() took off, keeping the
// caller's last error.
void RestoreAttributes(const std::wstring& path, DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  const DWORD error = GetLastError();
  SetFileAttributesW(path.c_str(), attributes);
  SetLastError(error);
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// StampOf() is what a copy read through `file`: the volume and file number
// that name the file, its size and last-write time.
FileStamp StampOf(HANDLE file, const std::string& context) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) RaiseLast(context);
  return {info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
          (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
          static_cast<std::int64_t>(
              (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
              info.ftLastWriteTime.dwLowDateTime)};
}

// RefuseIfALink() raises, naming the folder, when the folder open as
// `handle` is a symbolic link, a junction or a mount point. A folder that a
// sync client keeps (a reparse point of another tag) is written into.
void RefuseIfALink(HANDLE handle, const std::wstring& folder, const std::string& context) {
  FILE_BASIC_INFO info;
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof info)) RaiseLast(context);
  // The folder's own attributes by name as well: Wine, which shows a link
  // of the host's file system as a reparse point, answers the handle's query
  // for the folder the link leads to.
  const DWORD by_name = GetFileAttributesW(folder.c_str());
  if (by_name != INVALID_FILE_ATTRIBUTES) info.FileAttributes |= by_name;
  if (win32::IsLink(info.FileAttributes, win32::ReparseTag(handle))) {
    throw RuntimeError(ERROR_CANT_ACCESS_FILE,
                       "The folder is a link or junction, which is never written through: " +
                           win32::WideToUtf8(folder));
  }
}

// OpenRealFolder() opens the folder a copy is written into, refusing one
// that is a symbolic link, a junction or a mount point: the copy would
// land wherever that points, possibly on its own source. The folder
// is held without delete sharing until the copy is in place, so it cannot
// be swapped for a link meanwhile.
//
// A mount point can be set on an empty folder through a handle that only
// writes its attributes, which no sharing mode keeps out (and refusing write
// sharing would refuse the copy's own rename into the folder). So the folder
// is tested again once the temporary copy stands in it
// (RefuseIfALink): from then on it is not empty, and an empty folder
// is the only kind that can turn into a junction in place.
UniqueHandle OpenRealFolder(const std::wstring& folder, const std::string& context) {
  UniqueHandle handle(CreateFileW(
      folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle.Valid()) RaiseLast(context);
  RefuseIfALink(handle.Get(), folder, context);
  return handle;
}

// OpenSource() opens a copy's source for reading, sharing it with readers
// only; `flags` FILE_FLAG_OPEN_REPARSE_POINT opens a link as itself.
UniqueHandle OpenSource(const std::wstring& source, DWORD flags) {
  return UniqueHandle(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | flags, nullptr));
}

// StillAt() is true while `path` names the file that `stamp` was read from
// (its volume and file number), false when nothing or another file stands
// there. Raises with `context` when it cannot tell.
bool StillAt(const std::wstring& path, const FileStamp& stamp, const std::string& context) {
  const UniqueHandle file(CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.Valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
    RaiseSystemError(static_cast<std::int32_t>(error), context);
  }
  const FileStamp now = StampOf(file.Get(), context);
  return now.device == stamp.device && now.file == stamp.file;
}

// OutOfSight() is true for a file on a network drive (a UNC path, or a
// drive the system calls remote): the server's own programs, and clients
// that do not go through its sharing rules, may write it unseen, so no
// sharing mode vouches that its writer has finished.
bool OutOfSight(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return true;
  if (path.starts_with(L"\\\\") && !path.starts_with(L"\\\\?\\") && !path.starts_with(L"\\\\.\\"))
    return true;
  wchar_t volume[MAX_PATH + 1];
  if (!GetVolumePathNameW(path.c_str(), volume, MAX_PATH + 1)) return false;
  return GetDriveTypeW(volume) == DRIVE_REMOTE;
}

class Win32FileSystem final : public FileSystem {
 public:
  bool FolderExists(const std::string& path) override { return folder_test_(path); }
  bool FolderExistsNow(const std::string& path) override { return IsFolder(path); }

  void CreateFolder(const std::string& path) override {
    if (!CreateDirectoryW(Wide(path).c_str(), nullptr)) RaiseLast(path);
  }

  bool FileExists(const std::string& path) override {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  std::vector<FileEntry> Files(const std::string& folder, std::string_view suffix) override {
    std::wstring pattern = Wide(folder);
    if (!IsSeparator(pattern.back()) && !IsBareDrive(pattern)) pattern += L'\\';
    // Every name is listed and tested in full: a pattern would match the
    // short 8.3 names too ("ABCDEF~1.GDT" for "abcdefgh.gdtx").
    pattern += L'*';
    const std::wstring wide_suffix = win32::Utf8ToWide(suffix);
    const std::string prefix = IsBareDrive(folder) ? folder : folder + PathSeparator();

    WIN32_FIND_DATAW found;
    const UniqueFind search(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr,
                                             FIND_FIRST_EX_LARGE_FETCH));
    std::vector<FileEntry> files;
    if (!search.Valid()) {
      const DWORD error = GetLastError();
      // The root of a drive has no "." entry, so an empty one finds nothing.
      if (error == ERROR_FILE_NOT_FOUND && IsFolder(folder)) return files;
      RaiseSystemError(static_cast<std::int32_t>(error), folder);
    }
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      if (!EndsWithIgnoreCase(std::wstring_view(found.cFileName), wide_suffix)) continue;
      std::string name = win32::WideToUtf8(found.cFileName);
      // A link leads elsewhere: it is listed so the caller can say so, but
      // marked as no regular file. Any other reparse point (a cloud file, a
      // deduplicated one) is a file like any other.
      const bool regular = !win32::IsLink(found.dwFileAttributes, found.dwReserved0);
      files.push_back({name, prefix + name, regular});
    } while (FindNextFileW(search.Get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) RaiseLast(folder);
    return files;
  }

  void RemoveAbandonedCopies(const std::string& folder) noexcept override {
    try {
      std::wstring prefix;
      if (folder.empty() || !win32::SystemPath(folder, prefix)) return;
      if (!IsSeparator(prefix.back()) && !IsBareDrive(prefix)) prefix += L'\\';
      win32::DeleteAbandonedCopies(prefix);
    } catch (...) {
      // Out of memory, say: what is left is for a later call.
    }
  }

  std::uint64_t Size(const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) RaiseLast(path);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      RaiseSystemError(ERROR_FILE_NOT_FOUND, path);
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }

  void Move(const std::string& from, const std::string& to) override {
    // Without MOVEFILE_REPLACE_EXISTING an existing destination refuses the
    // move; MOVEFILE_COPY_ALLOWED lets it cross volumes.
    if (!MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_COPY_ALLOWED)) RaiseLast(from);
  }

  CopyResult CopyFile(const std::string& from, const std::string& to, bool overwrite) override {
    const std::wstring source = Wide(from);
    const std::wstring destination = Wide(to);

    // Opening the source with read sharing only fails while another process
    // has it open for writing, and keeps writers out until the copy is done:
    // what lands in the destination is a file its writer had finished. A
    // file server keeps the same rule for every machine that opens the file.
    // A link is opened as itself, never followed: what is read and what is
    // later deleted are then one and the same file.
    UniqueHandle itself = OpenSource(source, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!itself.Valid()) {
      // Someone else took it since it was listed.
      if (GetLastError() == ERROR_FILE_NOT_FOUND) return {CopyOutcome::kGone, {}};
      RaiseLast(from);
    }
    FILE_BASIC_INFO like;
    if (!GetFileInformationByHandleEx(itself.Get(), FileBasicInfo, &like, sizeof like))
      RaiseLast(from);
    const DWORD by_name = GetFileAttributesW(source.c_str());
    const DWORD attributes =
        like.FileAttributes | (by_name != INVALID_FILE_ATTRIBUTES ? by_name : 0);
    const bool reparse_point = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
    if (reparse_point && win32::IsLink(attributes, win32::ReparseTag(itself.Get()))) {
      throw RuntimeError(ERROR_CANT_ACCESS_FILE,
                         "The file is a link, which is never followed: " + from);
    }
    // Any other reparse point (a cloud file, a deduplicated one) is read
    // through the normal open, which lets its owner fetch what is not on this
    // disk yet. The first handle shares no deletion, so the name stays on
    // this very file until the second one holds it.
    UniqueHandle held = reparse_point ? OpenSource(source, 0) : std::move(itself);
    if (!held.Valid()) RaiseLast(from);
    itself.Close();
    const FileStamp stamp = StampOf(held.Get(), from);
    const bool out_of_sight = OutOfSight(source);
    if (!settling_.Admit(from, stamp, !out_of_sight)) return {CopyOutcome::kStillArriving, {}};

    const std::wstring folder_path = win32::FolderOf(destination);
    const UniqueHandle folder = OpenRealFolder(folder_path, to);
    win32::TemporaryCopy copy(to);
    RefuseIfALink(folder.Get(), folder_path, to);
    copy.Fill(held.Get(), from);
    // Written to while it was copied: the copy is dropped, and the file
    // waits until it has stopped changing again.
    const auto stamp_now = [&] { return StampOf(held.Get(), from); };
    if (!settling_.KeepCopy(from, stamp, !out_of_sight, stamp_now))
      return {CopyOutcome::kStillArriving, {}};
    held.Close();

    // A read-only destination refuses to be replaced; it is replaced all
    // the same, and keeps its attribute if the replacement fails.
    const DWORD had = overwrite ? ClearReadOnly(destination) : INVALID_FILE_ATTRIBUTES;
    try {
      // A source that has left its path by now was taken by someone else,
      // who may have handed it on already: its copy is dropped rather than
      // put there again.
      if (!copy.Commit(destination, overwrite, like,
                       [&] { return StillAt(source, stamp, from); })) {
        RestoreAttributes(destination, had);
        return {CopyOutcome::kGone, {}};
      }
    } catch (...) {
      RestoreAttributes(destination, had);
      throw;
    }
    return {CopyOutcome::kCopied, stamp};
  }

  void DeleteFile(const std::string& path, bool force) override {
    const std::wstring wide = Wide(path);
    const DWORD had = force ? ClearReadOnly(wide) : INVALID_FILE_ATTRIBUTES;
    if (!DeleteFileW(wide.c_str())) {
      const DWORD error = GetLastError();
      RestoreAttributes(wide, had);
      RaiseSystemError(static_cast<std::int32_t>(error), path);
    }
  }

  bool DeleteCopiedFile(const std::string& path, const FileStamp& copied) override {
    // The file is opened for deletion with the sharing DeleteFileW uses, so
    // a file another process holds without delete sharing fails the same
    // way; then the very file that was compared is the one deleted, through
    // the same handle.
    UniqueHandle file(CreateFileW(Wide(path).c_str(),
                                  DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) {
      if (GetLastError() == ERROR_FILE_NOT_FOUND) return false;  // someone else took it
      RaiseLast(path);
    }
    if (StampOf(file.Get(), path) != copied) RaiseSystemError(ERROR_SHARING_VIOLATION, path);
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof basic))
      RaiseLast(path);
    if (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) {
      // A read-only file refuses deletion; the source goes all the same.
      FILE_BASIC_INFO writable{};
      writable.FileAttributes = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
      if (writable.FileAttributes == 0) writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      if (!SetFileInformationByHandle(file.Get(), FileBasicInfo, &writable, sizeof writable))
        RaiseLast(path);
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition,
                                    sizeof disposition))
      RaiseLast(path);
    settling_.Forget(path);
    return true;
  }

  std::optional<FileIdentity> FolderIdentity(const std::string& path) override {
    try {
      std::wstring wide;
      if (path.empty() || !win32::SystemPath(path, wide)) return std::nullopt;
      // Backup semantics open a folder at all; without
      // FILE_FLAG_OPEN_REPARSE_POINT a link is followed to its folder.
      const UniqueHandle folder(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
      BY_HANDLE_FILE_INFORMATION info;
      if (!folder.Valid() || !GetFileInformationByHandle(folder.Get(), &info) ||
          !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
      return FileIdentity{
          info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    } catch (...) {
      return std::nullopt;  // out of memory for the path
    }
  }

  void AppendText(const std::string& path, const std::string& text) override {
    // FILE_APPEND_DATA writes at the end whatever the file pointer says;
    // full sharing lets a viewer keep the log open meanwhile.
    UniqueHandle file(CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) RaiseLast(path);
    const std::string ansi = win32::Utf8ToAnsi(text);
    std::size_t written = 0;
    while (written < ansi.size()) {
      const DWORD chunk =
          static_cast<DWORD>(std::min<std::size_t>(ansi.size() - written, 1u << 20));
      DWORD done = 0;
      if (!WriteFile(file.Get(), ansi.data() + written, chunk, &done, nullptr)) RaiseLast(path);
      written += done;
    }
  }

 private:
  BoundedTest folder_test_{IsFolder, kExistenceTestLimit};
  SettlingFiles settling_;
};

}  // namespace

std::unique_ptr<FileSystem> NewFileSystem() { return std::make_unique<Win32FileSystem>(); }

const char* PathSeparator() { return "\\"; }

}  // namespace quillbeck
