// Windows-only cases of the platform layer: sharing locks, file names and
// paths only Windows has (beyond the ANSI code page, past MAX_PATH, a bare
// drive), the ANSI conversions at the profile API and in the logs, and the
// agreement of the Linux INI engine with the system's profile API.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/ini_text.h"
#include "platform/process_launcher.h"
#include "platform/profile_store.h"
#include "platform/runtime_error.h"
#include "platform/system.h"
#include "platform/win32/text_conversion.h"
#include "platform/win32/windows_api.h"
#include "support/temp_folder.h"

#include <winioctl.h>

namespace quillbeck {
namespace {

using win32::AnsiToUtf8;
using win32::Utf8ToAnsi;
using win32::Utf8ToWide;
using win32::WideToUtf8;

// The helpers of support/temp_folder.h go through std::filesystem, whose
// MinGW narrow paths are not UTF-8; these take any name.
void WriteBytes(const std::string& path, const std::string& bytes) {
  win32::UniqueHandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.Valid()) << path;
  DWORD written = 0;
  ASSERT_TRUE(
      WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

std::string ReadBytes(const std::string& path) {
  win32::UniqueHandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return std::string();
  std::string bytes(1 << 16, '\0');
  DWORD read = 0;
  if (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
    return std::string();
  bytes.resize(read);
  return bytes;
}

bool Present(const std::string& path) {
  return GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Holding() opens `path` as another program would, with `access` and
// `share`, for as long as the result lives. The sharing rules are kept per
// handle, so a handle of this process stands for one of any other.
win32::UniqueHandle Holding(const std::string& path, DWORD access, DWORD share) {
  return win32::UniqueHandle(CreateFileW(Utf8ToWide(path).c_str(), access, share, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// AnsiHolds() is true when the ANSI code page of this system can hold `utf8`.
bool AnsiHolds(const std::string& utf8) {
  bool lossless = false;
  Utf8ToAnsi(utf8, &lossless);
  return lossless;
}

const std::string kCafe = "caf\xC3\xA9";                           // café
const std::string kCyrillic = "\xD0\x9A\xD0\xB2\xD0\xB8\xD0\xBB";  // Квил
const std::string kJapanese = "\xE6\x97\xA5\xE6\x9C\xAC";          // 日本

class Win32FileSystemTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return folder_.Join(name); }

  testing::TempFolder folder_;
  std::unique_ptr<FileSystem> fs_ = NewFileSystem();
};

struct LockCase {
  const char* why;
  DWORD access;
  DWORD share;
  bool copy_raises;
  bool delete_raises;
};

class LockedSourceTest : public Win32FileSystemTest,
                         public ::testing::WithParamInterface<LockCase> {};

// What the watch cycle meets when the writer of a ".GDT" file still has it
// open: the copy fails while the file may still change, and the delete fails
// while the holder did not allow it; the file stays where it is.
TEST_P(LockedSourceTest, CopyAndDeleteHonourTheHoldersSharing) {
  const LockCase& c = GetParam();
  const std::string temp = folder_.Make("Temp");
  const std::string source = Path("x.GDT");
  WriteBytes(source, "half written");
  {
    win32::UniqueHandle holder = Holding(source, c.access, c.share);
    ASSERT_TRUE(holder.Valid());
    if (c.copy_raises) {
      try {
        fs_->CopyFile(source, temp + "\\x.GDT", true);
        ADD_FAILURE() << c.why << ": copied";
      } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number(), ERROR_SHARING_VIOLATION) << c.why;
        EXPECT_NE(error.Description().find(source), std::string::npos) << error.Description();
      }
      EXPECT_FALSE(Present(temp + "\\x.GDT")) << c.why;
    } else {
      fs_->CopyFile(source, temp + "\\x.GDT", true);
      EXPECT_EQ(ReadBytes(temp + "\\x.GDT"), "half written") << c.why;
    }
    EXPECT_EQ(fs_->Files(temp, "").size(), c.copy_raises ? 0u : 1u) << "a temporary copy stayed";
    if (c.delete_raises) {
      EXPECT_THROW(fs_->DeleteFile(source, true), RuntimeError) << c.why;
      EXPECT_TRUE(Present(source)) << c.why;
    }
  }
  fs_->DeleteFile(source, true);
  EXPECT_FALSE(Present(source));
}

INSTANTIATE_TEST_SUITE_P(
    Holders, LockedSourceTest,
    ::testing::Values(LockCase{"written, shared with nobody", GENERIC_WRITE, 0, true, true},
                      LockCase{"written, readers allowed", GENERIC_WRITE, FILE_SHARE_READ, true,
                               true},
                      LockCase{"written, everything allowed", GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true, false},
                      LockCase{"read, readers allowed", GENERIC_READ, FILE_SHARE_READ, false, true},
                      LockCase{"read, nothing allowed", GENERIC_READ, 0, true, true}));

TEST_F(Win32FileSystemTest, FailedForcedDeleteKeepsTheReadOnlyAttribute) {
  const std::string file = Path("r.GDT");
  WriteBytes(file, "x");
  ASSERT_TRUE(SetFileAttributesW(Utf8ToWide(file).c_str(), FILE_ATTRIBUTE_READONLY));
  {
    win32::UniqueHandle holder = Holding(file, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(holder.Valid());
    EXPECT_THROW(fs_->DeleteFile(file, true), RuntimeError);
  }
  EXPECT_TRUE(GetFileAttributesW(Utf8ToWide(file).c_str()) & FILE_ATTRIBUTE_READONLY);
  fs_->DeleteFile(file, true);
  EXPECT_FALSE(Present(file));
}

// A read-only ".GDT" file is copied with its attribute, and the next copy of
// a file of that name still replaces it.
TEST_F(Win32FileSystemTest, ReadOnlySourceIsCopiedAndItsCopyReplacedLater) {
  const std::string temp = folder_.Make("Temp");
  WriteBytes(Path("r.GDT"), "first");
  SetFileAttributesW(Utf8ToWide(Path("r.GDT")).c_str(), FILE_ATTRIBUTE_READONLY);
  fs_->CopyFile(Path("r.GDT"), temp + "\\r.GDT", true);
  fs_->DeleteFile(Path("r.GDT"), true);
  EXPECT_TRUE(GetFileAttributesW(Utf8ToWide(temp + "\\r.GDT").c_str()) & FILE_ATTRIBUTE_READONLY);
  WriteBytes(Path("r.GDT"), "second");
  fs_->CopyFile(Path("r.GDT"), temp + "\\r.GDT", true);
  EXPECT_EQ(ReadBytes(temp + "\\r.GDT"), "second");
  EXPECT_EQ(fs_->Files(temp, "").size(), 1u);
}

// A read-only source whose copy cannot take the destination's place (a
// folder stands there) leaves no temporary copy behind.
TEST_F(Win32FileSystemTest, ReadOnlyCopyThatCannotTakeItsPlaceIsRemoved) {
  const std::string temp = folder_.Make("Temp");
  folder_.Make("Temp\\r.GDT");
  WriteBytes(Path("r.GDT"), "data");
  SetFileAttributesW(Utf8ToWide(Path("r.GDT")).c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_THROW(fs_->CopyFile(Path("r.GDT"), temp + "\\r.GDT", true), RuntimeError);
  EXPECT_TRUE(fs_->Files(temp, "").empty());
  EXPECT_TRUE(fs_->FolderExists(temp + "\\r.GDT"));
}

// FolderLink makes `link` a link to the folder `target` while it lives: a
// junction where the file system takes one. Wine (8) makes neither junctions
// (FSCTL_SET_REPARSE_POINT is not supported) nor symbolic links
// (CreateSymbolicLinkW reports success and makes nothing), but shows a
// symbolic link of the host's file system as a reparse point: there the
// host's ln makes one.
class FolderLink {
 public:
  FolderLink(const std::string& link, const std::string& target) : link_(Utf8ToWide(link)) {
    CreateDirectoryW(link_.c_str(), nullptr);
    win32::UniqueHandle folder(CreateFileW(link_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const std::wstring substitute = L"\\??\\" + Utf8ToWide(target);
    const auto bytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
    // The mount point's header, then its two names: the one to follow and
    // an empty one to show.
    std::vector<USHORT> data(8 + substitute.size() + 2);
    const ULONG tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(data.data(), &tag, sizeof tag);
    data[2] = static_cast<USHORT>(8 + bytes + 4);
    data[5] = bytes;
    data[6] = static_cast<USHORT>(bytes + 2);
    std::memcpy(&data[8], substitute.data(), bytes);
    DWORD returned = 0;
    if (DeviceIoControl(folder.Get(), FSCTL_SET_REPARSE_POINT, data.data(),
                        static_cast<DWORD>(16 + bytes + 4), nullptr, 0, &returned, nullptr))
      return;
    folder.Close();
    RemoveDirectoryW(link_.c_str());
    using UnixName = char* (*)(const wchar_t*);
    const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (unix_name == nullptr) return;
    const std::string unix_link = unix_name(link_.c_str());
    host_remove_ = L"rm \"" + Utf8ToWide(unix_link) + L"\"";
    Host(L"Z:\\bin\\ln", L"ln -s \"" + Utf8ToWide(unix_name(Utf8ToWide(target).c_str())) +
                             L"\" \"" + Utf8ToWide(unix_link) + L"\"");
  }
  ~FolderLink() {
    if (host_remove_.empty())
      RemoveDirectoryW(link_.c_str());
    else
      Host(L"Z:\\bin\\rm", host_remove_);
  }

  bool Made() const {
    const DWORD attributes = GetFileAttributesW(link_.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  }

 private:
  // Host() runs a host command under Wine, which gives no handle to wait
  // on: the link's coming or going is waited for instead.
  void Host(const wchar_t* program, std::wstring command) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    const bool making = !Made();
    if (!CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
      return;
    for (int i = 0; i < 250 && Made() != making; ++i) Sleep(20);
  }

  std::wstring link_;
  std::wstring host_remove_;
};

// A Temp that is a link would take the copy wherever it points: onto its
// own source, or out of the folder. The copy is refused, naming the folder,
// and the source stays, with nothing written anywhere.
class LinkedTempTest : public Win32FileSystemTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LinkedTempTest, CopyRefusesATempThatIsALink) {
  const std::string watched = folder_.Make("watched");
  const std::string elsewhere = folder_.Make("elsewhere");
  const std::string temp = watched + "\\Temp";
  FolderLink link(temp, GetParam() ? watched : elsewhere);
  ASSERT_TRUE(link.Made()) << "no folder link could be made here";
  WriteBytes(watched + "\\x.GDT", "payload");
  try {
    fs_->CopyFile(watched + "\\x.GDT", temp + "\\x.GDT", true);
    ADD_FAILURE() << "copied through the link";
  } catch (const RuntimeError& error) {
    EXPECT_NE(error.Description().find(temp), std::string::npos) << error.Description();
  }
  EXPECT_EQ(ReadBytes(watched + "\\x.GDT"), "payload");
  EXPECT_EQ(fs_->Files(watched, "").size(), 1u) << "a copy landed beside its source";
  EXPECT_TRUE(fs_->Files(elsewhere, "").empty()) << "a copy landed where the link points";
}

INSTANTIATE_TEST_SUITE_P(Targets, LinkedTempTest, ::testing::Values(true, false),
                         [](const auto& info) {
                           return std::string(info.param ? "ToItsOwnFolder" : "ToAnotherFolder");
                         });

// Only a name-surrogate reparse point leads elsewhere; what a cloud-sync
// client or deduplication marks is the file or folder itself.
struct TagCase {
  const char* what;
  DWORD attributes;
  DWORD tag;
  bool link;
};

class ReparseTagTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(ReparseTagTest, OnlyANameSurrogateIsALink) {
  EXPECT_EQ(win32::IsLink(GetParam().attributes, GetParam().tag), GetParam().link);
}

constexpr DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;
INSTANTIATE_TEST_SUITE_P(
    Tags, ReparseTagTest,
    ::testing::Values(
        TagCase{"SymbolicLink", kReparse, IO_REPARSE_TAG_SYMLINK, true},
        TagCase{"MountPoint", kReparse | FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT,
                true},
        TagCase{"CloudFileNotDownloaded", kReparse | 0x00400000, 0x9000701A, false},
        TagCase{"CloudFolder", kReparse | FILE_ATTRIBUTE_DIRECTORY, 0x9000001A, false},
        TagCase{"Deduplicated", kReparse, 0x80000013, false},
        TagCase{"TagUnknown", kReparse, 0, true},
        // A listing's tag means nothing without the attribute.
        TagCase{"NoReparsePoint", FILE_ATTRIBUTE_ARCHIVE, IO_REPARSE_TAG_SYMLINK, false}),
    [](const auto& info) { return std::string(info.param.what); });

// What a cleanup of Temp takes: temporary copies of this program's own
// naming whose writer is gone, and nothing else.
struct LeftoverCase {
  const char* name;
  enum Kind { kAbandoned, kReadOnly, kBeingWritten, kFolder } kind;
  bool removed;
};

TEST_F(Win32FileSystemTest, CleanupRemovesOnlyOurAbandonedCopies) {
  const LeftoverCase cases[] = {
      {"~quillbeck-00001a2b-9e3779b9.tmp", LeftoverCase::kAbandoned, true},
      {"~quillbeck-ffffffff-00000000.tmp", LeftoverCase::kReadOnly, true},
      {"~quillbeck-00000f00-3c6ef372.tmp", LeftoverCase::kBeingWritten, false},
      {"~quillbeck-0000beef-00000001.tmp", LeftoverCase::kFolder, false},
      {"~quillbeck-x.tmp.GDT", LeftoverCase::kAbandoned, false},
      {"~quillbeck-00001a2b-9e3779ba.tmp.GDT", LeftoverCase::kAbandoned, false},
      {"other.tmp", LeftoverCase::kAbandoned, false},
      {"~quillbeck-00001A2B-9E3779BB.tmp", LeftoverCase::kAbandoned, false},
      {"~QUILLBECK-00001a2b-9e3779bc.TMP", LeftoverCase::kAbandoned, false},
      {"~quillbeck-0001a2b-9e3779bd.tmp", LeftoverCase::kAbandoned, false},
      {"~quillbeck-00001a2b-9e3779be0.tmp", LeftoverCase::kAbandoned, false},
      {"~quillbeck-00001a2g-9e3779bf.tmp", LeftoverCase::kAbandoned, false},
      {"~quillbeck-00001a2b_9e3779c0.tmp", LeftoverCase::kAbandoned, false},
      {"~quillbeck-00001a2b-9e3779c1.tmpx", LeftoverCase::kAbandoned, false},
      {".a.GDT.quillbeck-Ab12Cd.part", LeftoverCase::kAbandoned, false},
  };
  const std::string temp = folder_.Make("Temp");
  win32::UniqueHandle writer;
  for (const LeftoverCase& c : cases) {
    const std::string path = temp + "\\" + c.name;
    if (c.kind == LeftoverCase::kFolder) {
      folder_.Make(std::string("Temp\\") + c.name);
      WriteBytes(path + "\\inside", "x");
      continue;
    }
    WriteBytes(path, c.name);
    if (c.kind == LeftoverCase::kReadOnly)
      SetFileAttributesW(Utf8ToWide(path).c_str(), FILE_ATTRIBUTE_READONLY);
    // A living copy holds its file as CopyFile() does: written, readers only.
    if (c.kind == LeftoverCase::kBeingWritten)
      writer.Reset(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  ASSERT_TRUE(writer.Valid());

  fs_->RemoveAbandonedCopies(temp);
  for (const LeftoverCase& c : cases) {
    const std::string path = temp + "\\" + c.name;
    EXPECT_EQ(Present(path), !c.removed) << c.name;
    if (!c.removed && c.kind != LeftoverCase::kFolder) {
      EXPECT_EQ(ReadBytes(path), c.name);
    }
  }
  EXPECT_TRUE(Present(temp + "\\~quillbeck-0000beef-00000001.tmp\\inside"));

  // Once its writer is gone, the copy it left is abandoned too.
  writer.Close();
  fs_->RemoveAbandonedCopies(temp);
  EXPECT_FALSE(Present(temp + "\\~quillbeck-00000f00-3c6ef372.tmp"));
  // A folder that is missing or cannot be a path is no failure.
  fs_->RemoveAbandonedCopies(Path("missing"));
  fs_->RemoveAbandonedCopies("");
  fs_->RemoveAbandonedCopies(std::string("a\0b", 3));
}

// ReadAll() is the whole content of a file, however large.
std::string ReadAll(const std::string& path) {
  win32::UniqueHandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  if (!file.Valid()) return bytes;
  std::string chunk(1 << 20, '\0');
  DWORD read = 0;
  while (ReadFile(file.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) &&
         read > 0)
    bytes.append(chunk, 0, read);
  return bytes;
}

// TemporaryCopiesIn() counts the files of `folder` that a copy is writing.
int TemporaryCopiesIn(const std::string& folder) {
  int count = 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Utf8ToWide(folder + "\\~quillbeck-*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do ++count;
  while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

// Two installations may watch one folder: one copy's cleanups, made again
// and again while the other copies file after file, from the first byte of
// each to its rename, never take a copy away.
TEST_F(Win32FileSystemTest, CleanupNeverTakesACopyBeingWritten) {
  const std::string temp = folder_.Make("Temp");
  constexpr int kFiles = 32;
  std::string bytes(3 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); i += 4096) bytes[i] = static_cast<char>(i >> 12);
  for (int i = 0; i < kFiles; ++i) WriteBytes(Path(std::to_string(i) + ".GDT"), bytes);

  std::atomic<bool> done{false};
  std::optional<RuntimeError> failure;
  std::thread copier([&] {
    try {
      const std::unique_ptr<FileSystem> fs = NewFileSystem();
      for (int i = 0; i < kFiles; ++i) {
        const std::string name = std::to_string(i) + ".GDT";
        fs->CopyFile(Path(name), temp + "\\" + name, true);
      }
    } catch (const RuntimeError& error) {
      failure = error;
    }
    done = true;
  });
  int caught = 0;
  const std::unique_ptr<FileSystem> other = NewFileSystem();
  while (!done) {
    caught += TemporaryCopiesIn(temp) > 0;
    other->RemoveAbandonedCopies(temp);
  }
  copier.join();
  ASSERT_FALSE(failure) << failure->Number() << " " << failure->Description();
  EXPECT_GT(caught, 0) << "the copies were over before a cleanup could meet one";
  for (int i = 0; i < kFiles; ++i) {
    EXPECT_TRUE(ReadAll(temp + "\\" + std::to_string(i) + ".GDT") == bytes) << i;
  }
  EXPECT_EQ(fs_->Files(temp, "").size(), static_cast<std::size_t>(kFiles));
}

// Names beyond the ANSI code page go through the whole road of a file.
TEST_F(Win32FileSystemTest, AnyFileNameWorksThroughTheWideApis) {
  const std::string folder = Path(kCyrillic);
  fs_->CreateFolder(folder);
  fs_->CreateFolder(folder + "\\Temp");
  const std::string name = kJapanese + ".gdt";
  WriteBytes(folder + "\\" + name, kCafe);
  ASSERT_TRUE(fs_->FolderExists(folder));

  const std::vector<FileEntry> files = fs_->Files(folder, ".GDT");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].Name, name);
  EXPECT_EQ(files[0].Path, folder + "\\" + name);
  EXPECT_TRUE(fs_->FileExists(files[0].Path));
  EXPECT_EQ(fs_->Size(files[0].Path), kCafe.size());
  fs_->CopyFile(files[0].Path, folder + "\\Temp\\" + files[0].Name, true);
  fs_->DeleteFile(files[0].Path, true);
  fs_->Move(folder + "\\Temp\\" + name, folder + "\\Temp\\" + kCafe);
  EXPECT_EQ(ReadBytes(folder + "\\Temp\\" + kCafe), kCafe);
  EXPECT_TRUE(fs_->Files(folder, "").empty());
}

// Folders nested past MAX_PATH (260 characters) work without the system's
// long-path opt-in.
TEST_F(Win32FileSystemTest, PathsLongerThanMaxPathWork) {
  // std::filesystem (and so TempFolder) cannot walk such a tree: it is taken
  // down here, deepest first, whatever the test's outcome.
  struct DeepTree {
    std::vector<std::string> folders;
    ~DeepTree() {
      for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        std::wstring wide;
        win32::SystemPath(*folder + "\\*", wide);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(wide.c_str(), &found);
        while (search != INVALID_HANDLE_VALUE) {
          if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            std::wstring file;
            win32::SystemPath(*folder + "\\" + WideToUtf8(found.cFileName), file);
            DeleteFileW(file.c_str());
          }
          if (!FindNextFileW(search, &found)) break;
        }
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
        win32::SystemPath(*folder, wide);
        RemoveDirectoryW(wide.c_str());
      }
    }
  } tree;
  std::string folder = folder_.Path();
  while (folder.size() < 300) {
    folder += "\\" + std::string(40, 'd');
    fs_->CreateFolder(folder);
    tree.folders.push_back(folder);
  }
  ASSERT_TRUE(fs_->FolderExists(folder));
  const std::string temp = folder + "\\Temp";
  fs_->CreateFolder(temp);
  tree.folders.push_back(temp);
  const std::string file = folder + "\\" + std::string(30, 'f') + ".GDT";
  fs_->AppendText(file, "long");
  EXPECT_TRUE(fs_->FileExists(file));
  EXPECT_EQ(fs_->Size(file), 4u);
  ASSERT_EQ(fs_->Files(folder, "").size(), 1u);
  EXPECT_EQ(fs_->Files(folder, "")[0].Path, file);
  fs_->CopyFile(file, temp + "\\a.GDT", true);
  fs_->DeleteFile(file, true);
  fs_->Move(temp + "\\a.GDT", temp + "\\b.GDT");
  EXPECT_EQ(fs_->Size(temp + "\\b.GDT"), 4u);
  EXPECT_FALSE(fs_->FileExists(file));
}

// A folder text is used as typed: one that ends in a separator gives a
// doubled one, which Windows reads as one; a bare drive ("C:") names the
// current folder of the drive and takes the name without a separator.
TEST_F(Win32FileSystemTest, EntryPathsOfFolderTextsAsTyped) {
  WriteBytes(Path("a.GDT"), "a");
  const std::vector<FileEntry> trailing = fs_->Files(folder_.Path() + "\\", "");
  ASSERT_EQ(trailing.size(), 1u);
  EXPECT_EQ(trailing[0].Path, folder_.Path() + "\\\\a.GDT");
  EXPECT_EQ(fs_->Size(trailing[0].Path), 1u);

  wchar_t saved[MAX_PATH];
  ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, saved), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(Utf8ToWide(folder_.Path()).c_str()));
  const std::string drive = folder_.Path().substr(0, 2);
  std::vector<FileEntry> relative;
  try {
    relative = fs_->Files(drive, "");
  } catch (const RuntimeError& error) {
    ADD_FAILURE() << error.Description();
  }
  const bool exists = fs_->FileExists(relative.empty() ? "" : relative[0].Path);
  SetCurrentDirectoryW(saved);
  ASSERT_EQ(relative.size(), 1u);
  EXPECT_EQ(relative[0].Path, drive + "a.GDT");
  EXPECT_TRUE(exists);
}

TEST_F(Win32FileSystemTest, MalformedPathsAreNoFoldersAndRaiseElsewhere) {
  for (const std::string& path :
       {std::string("a<b"), std::string("C:\\x\\a|b"), std::string("C:\\x\0y", 6)}) {
    EXPECT_FALSE(fs_->FolderExists(path)) << path;
    EXPECT_FALSE(fs_->FileExists(path)) << path;
    EXPECT_THROW(fs_->CreateFolder(path), RuntimeError) << path;
  }
}

TEST_F(Win32FileSystemTest, AppendTextWritesTheAnsiCodePage) {
  if (!AnsiHolds(kCafe)) GTEST_SKIP() << "the ANSI code page has no e acute";
  fs_->AppendText(Path("Debug.log"), kCafe + "\r\n");
  EXPECT_EQ(ReadBytes(Path("Debug.log")), Utf8ToAnsi(kCafe) + "\r\n");
  EXPECT_EQ(ReadBytes(Path("Debug.log")).size(), 6u);
  // Another program may hold the log open meanwhile.
  win32::UniqueHandle viewer =
      Holding(Path("Debug.log"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(viewer.Valid());
  fs_->AppendText(Path("Debug.log"), "x\r\n");
  EXPECT_EQ(fs_->Size(Path("Debug.log")), 9u);
}

class Win32ProfileStoreTest : public ::testing::Test {
 protected:
  std::string Read(const std::string& section, const std::string& key, const std::string& path) {
    std::string buffer(256, ' ');
    const std::uint32_t count = store_->GetString(section, key, "<none>", buffer, 256, path);
    return buffer.substr(0, count);
  }

  testing::TempFolder folder_;
  std::string path_ = folder_.Join("Settings.ini");
  std::unique_ptr<ProfileStore> store_ = NewProfileStore();
};

TEST_F(Win32ProfileStoreTest, TextsTravelInTheAnsiCodePage) {
  if (!AnsiHolds(kCafe)) GTEST_SKIP() << "the ANSI code page has no e acute";
  store_->WriteString("Quillbeck", "Folder 1", "C:\\" + kCafe, path_);
  EXPECT_NE(ReadBytes(path_).find("Folder 1=C:\\" + Utf8ToAnsi(kCafe) + "\r\n"), std::string::npos);
  EXPECT_EQ(Read("Quillbeck", "Folder 1", path_), "C:\\" + kCafe);
  // The cut counts ANSI characters, whatever their UTF-8 form takes.
  store_->WriteString(
      "Quillbeck", "Shell 1",
      std::string(300 / 5, 'a') +
          [] {
            std::string many;
            for (int i = 0; i < 300; ++i) many += "\xC3\xA9";
            return many;
          }(),
      path_);
  const std::string cut = Read("Quillbeck", "Shell 1", path_);
  EXPECT_EQ(Utf8ToAnsi(cut).size(), 255u);
}

// The file is written in the ANSI code page, which would write a character
// it lacks as "?": such a value is refused, naming its key, and the file
// stays byte for byte as it was.
TEST_F(Win32ProfileStoreTest, ValueOutsideTheCodePageIsRefusedAndTheFileUntouched) {
  if (AnsiHolds(kCyrillic)) GTEST_SKIP() << "the ANSI code page holds these characters";
  const std::string before = "[Quillbeck]\r\nFolder 1=C:\\Drop\r\nDebug=0\r\n";
  WriteBytes(path_, before);
  for (const bool write : {false, true}) {
    try {
      if (write)
        store_->WriteString("Quillbeck", "Folder 1", "C:\\" + kCyrillic, path_);
      else
        store_->CheckValue("Folder 1", "C:\\" + kCyrillic);
      ADD_FAILURE() << (write ? "written" : "passed the check");
    } catch (const RuntimeError& error) {
      EXPECT_EQ(error.Number(), ERROR_NO_UNICODE_TRANSLATION);
      EXPECT_NE(error.Description().find("Folder 1"), std::string::npos) << error.Description();
    }
  }
  EXPECT_EQ(ReadBytes(path_), before);
  EXPECT_EQ(Read("Quillbeck", "Folder 1", path_), "C:\\Drop");
}

// A settings file in a folder whose name the ANSI code page cannot hold is
// still found, through the folder's 8.3 name, where the volume keeps them.
TEST_F(Win32ProfileStoreTest, FolderBeyondTheCodePage) {
  if (AnsiHolds(kCyrillic)) GTEST_SKIP() << "the ANSI code page holds these characters";
  const std::string folder = folder_.Join(kCyrillic);
  ASSERT_TRUE(CreateDirectoryW(Utf8ToWide(folder).c_str(), nullptr));
  wchar_t short_name[MAX_PATH];
  const DWORD length = GetShortPathNameW(Utf8ToWide(folder).c_str(), short_name, MAX_PATH);
  if (length == 0 || !AnsiHolds(WideToUtf8(std::wstring(short_name, length))))
    GTEST_SKIP() << "this volume keeps no 8.3 names";
  const std::string path = folder + "\\Settings.ini";
  store_->WriteString("Quillbeck", "Debug", "1", path);
  EXPECT_EQ(ReadBytes(path), "[Quillbeck]\r\nDebug=1\r\n");
  EXPECT_EQ(Read("Quillbeck", "Debug", path), "1");
}

struct AgreementCase {
  const char* why;
  std::string contents;
  const char* section;
  const char* key;
};

class EngineAgreementTest : public Win32ProfileStoreTest,
                            public ::testing::WithParamInterface<AgreementCase> {};

// The Linux store is our own engine meant to read as the system's profile
// API does: on Windows both read the same file and must agree.
TEST_P(EngineAgreementTest, LinuxEngineReadsAsTheSystemDoes) {
  const AgreementCase& c = GetParam();
  WriteBytes(path_, c.contents);
  const std::optional<std::string> ours = FindProfileValue(c.contents, c.section, c.key);
  EXPECT_EQ(Read(c.section, c.key, path_), ours.value_or("<none>")) << c.why;
}

// Left out, because Wine's profile API and the engine part there (how the
// real Windows reads these was not checked): a line without "=" is a key
// without a value to Wine, hiding a later line of that key; Wine trims no
// control characters; a line starting with ";" is found by a key starting
// with ";"; a section "[]" is not found by the empty name. Quillbeck itself
// writes none of these.
INSTANTIATE_TEST_SUITE_P(
    Table, EngineAgreementTest,
    ::testing::Values(AgreementCase{"plain", "[s]\r\nk=v\r\n", "s", "k"},
                      AgreementCase{"names ignore case", "[sEcTiOn]\nKeY=v", "Section", "key"},
                      AgreementCase{"first key wins", "[s]\na=1\nA=2\n", "s", "a"},
                      AgreementCase{"comment", "[s]\n;a=1\n", "s", "a"},
                      AgreementCase{"spacing trimmed", "  [  s  ]  \n\t a \t=\t v w \t\n", "s",
                                    "a"},
                      AgreementCase{"double quotes", "[s]\na=\"x y\"", "s", "a"},
                      AgreementCase{"single quotes", "[s]\na= ' x ' ", "s", "a"},
                      AgreementCase{"one quote", "[s]\na=\"", "s", "a"},
                      AgreementCase{"empty value", "[s]\na=", "s", "a"},
                      AgreementCase{"split at first =", "[s]\na = b=c", "s", "a"},
                      AgreementCase{"LF endings", "[s]\na=1\nb=2\n", "s", "b"},
                      AgreementCase{"CRLF endings", "[s]\r\na=1\r\nb=2\r\n", "s", "b"},
                      AgreementCase{"no section before the first", "a=1\n[s]\nb=2", "s", "a"},
                      AgreementCase{"key of another section", "[t]\na=1\n[s]\nb=2", "s", "a"},
                      AgreementCase{"missing section", "[t]\na=1", "s", "a"},
                      AgreementCase{"empty file", "", "s", "k"},
                      AgreementCase{"first section wins", "[s]\na=1\n[S]\na=2\n", "s", "a"},
                      AgreementCase{"later section unseen", "[s]\na=1\n[s]\nb=2\n", "s", "b"},
                      AgreementCase{"indented comment", "[s]\n  ;a=1\na=2", "s", "a"},
                      AgreementCase{"only a matching pair", "[s]\na=\"x'", "s", "a"},
                      AgreementCase{"outer pair only", "[s]\na=\"x\"y\"", "s", "a"},
                      AgreementCase{"empty quotes", "[s]\na=''", "s", "a"},
                      AgreementCase{"CR endings", "[s]\ra=1\rb=2", "s", "b"},
                      AgreementCase{"LF CR", "[s]\n\rb=2\n\r", "s", "b"},
                      AgreementCase{"name up to last ]", "[a]b] x\nk=1", "a]b", "k"},
                      AgreementCase{"[ without ]", "[t]\n[s\nk=1", "t", "k"},
                      AgreementCase{"BOM", "\xEF\xBB\xBF[s]\nk=1", "s", "k"},
                      AgreementCase{"tab in value", "[s]\nk=a\tb", "s", "k"}));

// A settings file that the Linux engine wrote (CR LF endings, keys added in
// the order Save writes them) reads back the same through the system's API.
TEST_F(Win32ProfileStoreTest, FileWrittenByTheLinuxEngineReadsTheSame) {
  std::string contents = "; kept\n[Other]\nFolder 1=elsewhere\n";
  const std::vector<std::pair<std::string, std::string>> values = {
      {"Folder 1", "C:\\Drop"}, {"Shell 1", "\"C:\\Program Files\\x.exe\" /a"},
      {"Folder 2", ""},         {"Shell 2", "  padded  "},
      {"Debug", "1"},           {"Folder 1", "C:\\Drop\\again"}};
  for (const auto& [key, value] : values)
    contents = SetProfileValue(contents, "Quillbeck", key, value);
  WriteBytes(path_, contents);
  for (const char* key : {"Folder 1", "Shell 1", "Folder 2", "Shell 2", "Debug", "Shell 5"}) {
    EXPECT_EQ(Read("Quillbeck", key, path_),
              FindProfileValue(contents, "Quillbeck", key).value_or("<none>"))
        << key;
  }
  EXPECT_EQ(Read("Other", "Folder 1", path_), "elsewhere");
}

TEST(Win32Errors, CarryTheCodeAndOneLineOfTheSystemsTextWithTheContext) {
  for (const DWORD code :
       {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_ALREADY_EXISTS}) {
    try {
      RaiseSystemError(static_cast<std::int32_t>(code), "C:\\x\\a.GDT");
    } catch (const RuntimeError& error) {
      EXPECT_EQ(error.Number(), static_cast<std::int32_t>(code));
      const std::string& text = error.Description();
      EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
      EXPECT_GT(text.size(), std::string(": C:\\x\\a.GDT").size() + 3) << text;
      EXPECT_TRUE(text.ends_with(": C:\\x\\a.GDT")) << text;
      EXPECT_EQ(text.find(".:"), std::string::npos) << text;
    }
  }
  SetLastError(ERROR_PATH_NOT_FOUND);
  EXPECT_THROW(
      {
        try {
          RaiseLastSystemError("");
        } catch (const RuntimeError& error) {
          EXPECT_EQ(error.Number(), ERROR_PATH_NOT_FOUND);
          EXPECT_FALSE(error.Description().empty());
          EXPECT_NE(error.Description().back(), '.');
          throw;
        }
      },
      RuntimeError);
}

TEST(Win32ProcessLauncher, FailureCarriesTheSystemsNumberAndTheCommand) {
  try {
    NewProcessLauncher()->Launch("quillbeck-no-such-program-4711.exe /x");
    ADD_FAILURE() << "started";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.Number(), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(error.Description().find("quillbeck-no-such-program-4711.exe /x"), std::string::npos);
  }
}

TEST(Win32SingleInstanceLock, SameFolderInAnotherLetterCaseIsTheSameCopy) {
  testing::TempFolder program;
  const auto single_instance = NewSingleInstance();
  auto first = single_instance->Acquire(program.Path());
  ASSERT_TRUE(first->Acquired());
  std::string upper = program.Path();
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  });
  EXPECT_FALSE(single_instance->Acquire(upper)->Acquired());
}

TEST(Win32ExecutableFolder, HasNoTrailingSeparator) {
  const std::string folder = ExecutableFolder();
  ASSERT_GE(folder.size(), 3u);
  EXPECT_EQ(folder[1], ':');
  EXPECT_NE(folder.back(), '\\');
}

struct ConversionCase {
  const char* why;
  std::string utf8;
};

class TextConversionTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(TextConversionTest, WideRoundTripKeepsEveryCharacter) {
  const ConversionCase& c = GetParam();
  EXPECT_EQ(WideToUtf8(Utf8ToWide(c.utf8)), c.utf8) << c.why;
  bool lossless = false;
  const std::string ansi = Utf8ToAnsi(c.utf8, &lossless);
  if (lossless) {
    EXPECT_EQ(AnsiToUtf8(ansi), c.utf8) << c.why;
  } else {
    EXPECT_NE(AnsiToUtf8(ansi), c.utf8) << c.why;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextConversionTest,
    ::testing::Values(ConversionCase{"empty", ""}, ConversionCase{"ascii", "C:\\Drop\\a.GDT"},
                      ConversionCase{"latin", kCafe}, ConversionCase{"cyrillic", kCyrillic},
                      ConversionCase{"cjk", kJapanese},
                      ConversionCase{"beyond the BMP", "\xF0\x9F\x93\x81"},
                      ConversionCase{"embedded zero", std::string("a\0b", 3)}));

TEST(TextConversion, InvalidUtf8IsNeverCalledLossless) {
  bool lossless = true;
  Utf8ToAnsi(
      "a\xFF"
      "b",
      &lossless);
  EXPECT_FALSE(lossless);
  EXPECT_EQ(Utf8ToWide("a\xFF"
                       "b"),
            L"a\uFFFDb");
  // No look-alike: a character the code page lacks becomes "?", never a
  // different letter that could name another file.
  if (!AnsiHolds("\xC4\x81")) {
    EXPECT_EQ(Utf8ToAnsi("\xC4\x81"), "?");  // a with macron
  }
}

}  // namespace
}  // namespace quillbeck
