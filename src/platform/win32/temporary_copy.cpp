// The temporary copy: written, flushed and renamed through one handle that
// nobody else may delete through (see temporary_copy.h).
#include "platform/win32/temporary_copy.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "platform/runtime_error.h"

namespace quillbeck::win32 {

namespace {

constexpr std::wstring_view kPrefix = L"~quillbeck-";
constexpr std::wstring_view kSuffix = L".tmp";
constexpr std::size_t kDigits = 8;

bool IsLowerHex(std::wstring_view text) {
  return std::all_of(text.begin(), text.end(), [](wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
  });
}

// NameBeside() is a fresh temporary name in the folder of `path`.
std::string NameBeside(const std::string& path) {
  // The process id keeps two programs apart, the number the copies of one;
  // the random start keeps a later process of the same id off the names of
  // one that died.
  static std::atomic<std::uint32_t> counter{0};
  static const std::uint32_t seed = std::random_device{}();
  char name[64];
  std::snprintf(name, sizeof name, "~quillbeck-%08lx-%08x.tmp",
                static_cast<unsigned long>(GetCurrentProcessId()),
                static_cast<unsigned>(seed + 0x9E3779B9u * ++counter));
  return path.substr(0, NameStart(path)) + name;
}

// SetAttributes() sets only the attributes of an open file (a zero time
// leaves that time as it is).
bool SetAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = attributes;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

bool MarkForDeletion(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// RenameByHandle() renames the open file to `destination`.
bool RenameByHandle(HANDLE file, const std::wstring& destination, bool replace) {
  const std::size_t bytes = destination.size() * sizeof(wchar_t);
  std::vector<std::uint64_t> storage((sizeof(FILE_RENAME_INFO) + bytes) / sizeof(std::uint64_t) +
                                     1);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(rename->FileName, destination.c_str(), bytes + sizeof(wchar_t));
  return SetFileInformationByHandle(file, FileRenameInfo, rename,
                                    static_cast<DWORD>(storage.size() * sizeof(std::uint64_t)));
}

// IsTemporaryCopyName() is true for exactly the names NameBeside() makes,
// letter case included.
bool IsTemporaryCopyName(std::wstring_view name) {
  if (name.size() != kPrefix.size() + kDigits + 1 + kDigits + kSuffix.size()) return false;
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return false;
  name.remove_prefix(kPrefix.size());
  return IsLowerHex(name.substr(0, kDigits)) && name[kDigits] == L'-' &&
         IsLowerHex(name.substr(kDigits + 1, kDigits));
}

// DeleteIfAbandoned() deletes the file at `path` unless another handle holds
// it without delete sharing, read-only or not, and tells whether it did.
bool DeleteIfAbandoned(const std::wstring& path) {
  // Delete access is refused while the writer's handle, which does not
  // share deletion, is open: this open is the proof that there is none.
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open at all.
  UniqueHandle file(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.Valid()) return false;
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof basic)) return false;
  // A sync client may have made it a cloud file, which is still ours; a link
  // of our name is not.
  if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      IsLink(basic.FileAttributes, ReparseTag(file.Get())))
    return false;
  // A copy killed between taking its source's attributes and its rename may
  // be read-only, which refuses deletion.
  const bool read_only = basic.FileAttributes & FILE_ATTRIBUTE_READONLY;
  if (read_only && !SetAttributes(file.Get(), FILE_ATTRIBUTE_NORMAL)) return false;
  if (MarkForDeletion(file.Get())) return true;
  if (read_only) SetAttributes(file.Get(), basic.FileAttributes);
  return false;
}

}  // namespace

void DeleteAbandonedCopies(const std::wstring& prefix) noexcept {
  try {
    // The pattern only narrows the walk (it matches short 8.3 names too);
    // each name is checked in full.
    WIN32_FIND_DATAW found;
    const UniqueFind search(FindFirstFileExW((prefix + std::wstring(kPrefix) + L"*").c_str(),
                                             FindExInfoBasic, &found, FindExSearchNameMatch,
                                             nullptr, 0));
    if (!search.Valid()) return;
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
          IsLink(found.dwFileAttributes, found.dwReserved0))
        continue;
      if (IsTemporaryCopyName(found.cFileName)) DeleteIfAbandoned(prefix + found.cFileName);
    } while (FindNextFileW(search.Get(), &found));
  } catch (...) {
    // Out of memory, say: what is left is for a later call.
  }
}

TemporaryCopy::TemporaryCopy(const std::string& destination) : context_(destination) {
  for (int attempt = 0;; ++attempt) {
    if (!SystemPath(NameBeside(destination), path_))
      RaiseSystemError(ERROR_INVALID_NAME, destination);
    // Readers only: no one else may delete, rename or write it. DELETE is
    // for the rename through this handle, and for its removal on failure.
    HANDLE file =
        CreateFileW(path_.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      file_.Reset(file);
      return;
    }
    const DWORD error = GetLastError();
    const bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    if (!taken || attempt == 15) RaiseSystemError(static_cast<std::int32_t>(error), destination);
  }
}

TemporaryCopy::~TemporaryCopy() {
  if (committed_) return;
  if (file_.Valid()) {
    if (read_only_) SetAttributes(file_.Get(), FILE_ATTRIBUTE_NORMAL);
    if (MarkForDeletion(file_.Get())) return;  // gone as the handle closes
    file_.Close();
  }
  SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path_.c_str());
}

void TemporaryCopy::RaiseLast() const { RaiseLastSystemError(context_); }

void TemporaryCopy::Fill(HANDLE source, const std::string& source_context) {
  constexpr LONGLONG kChunk = 1 << 20;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(source, &size)) RaiseLastSystemError(source_context);
  const DWORD chunk = static_cast<DWORD>(std::clamp<LONGLONG>(size.QuadPart, 4096, kChunk));
  const std::unique_ptr<char[]> buffer(new char[chunk]);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(source, buffer.get(), chunk, &got, nullptr)) RaiseLastSystemError(source_context);
    if (got == 0) return;
    for (DWORD put = 0; put < got;) {
      DWORD done = 0;
      if (!WriteFile(file_.Get(), buffer.get() + put, got - put, &done, nullptr)) RaiseLast();
      put += done;
    }
  }
}

std::function<void()> TemporaryCopy::before_put_in_place;

bool TemporaryCopy::Commit(const std::wstring& destination, bool replace,
                           const FILE_BASIC_INFO& like, const std::function<bool()>& wanted) {
  constexpr DWORD kCopied = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  FILE_BASIC_INFO basic{};
  basic.LastWriteTime = like.LastWriteTime;
  basic.FileAttributes = like.FileAttributes & kCopied;  // none: left as created
  if (!SetFileInformationByHandle(file_.Get(), FileBasicInfo, &basic, sizeof basic)) RaiseLast();
  read_only_ = basic.FileAttributes & FILE_ATTRIBUTE_READONLY;

  // The caller deletes the source next: the copy's data must be on the disk
  // before that, or a power cut could leave neither.
  if (!FlushFileBuffers(file_.Get())) RaiseLast();
  if (before_put_in_place) before_put_in_place();
  if (wanted && !wanted()) return false;

  if (RenameByHandle(file_.Get(), destination, replace)) {
    committed_ = true;
    // Writes the new name through as well, as MOVEFILE_WRITE_THROUGH would.
    if (!FlushFileBuffers(file_.Get())) RaiseLast();
    file_.Close();
    return true;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
      error != ERROR_INVALID_FUNCTION)
    RaiseSystemError(static_cast<std::int32_t>(error), context_);
  // A file system that cannot rename an open file: the rename by name,
  // after which a cleanup may for a moment take the closed copy away (the
  // copy then fails and is made again at the next tick).
  file_.Close();
  if (!MoveFileExW(path_.c_str(), destination.c_str(),
                   MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)))
    RaiseLast();
  committed_ = true;
  return true;
}

}  // namespace quillbeck::win32
