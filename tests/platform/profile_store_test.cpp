// The profile store through its seam, on real files: what a read returns and
// what a write leaves on the disk.
#include "platform/profile_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/ini_text.h"
#include "platform/runtime_error.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include "platform/win32/text_conversion.h"
#include "platform/win32/windows_api.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillbeck {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::WriteFile;

class ProfileStoreTest : public ::testing::Test {
 protected:
  // Read() is what GetString() places, cut to the count it returns.
  std::string Read(const std::string& key, const std::string& default_value = "dflt") {
    std::string buffer(256, ' ');
    const std::uint32_t count =
        store_->GetString("Quillbeck", key, default_value, buffer, 256, path_);
    return buffer.substr(0, count);
  }

  // EntryCount() is how many entries the temporary folder holds.
  std::size_t EntryCount() const {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder_.Path()))
      ++count;
    return count;
  }

  testing::TempFolder folder_;
  std::string path_ = folder_.Join("Settings.ini");
  std::unique_ptr<ProfileStore> store_ = NewProfileStore();
};

TEST_F(ProfileStoreTest, MissingFileGivesTheDefaultAndCreatesNothing) {
  EXPECT_EQ(Read("Folder 1"), "dflt");
  EXPECT_EQ(Read("Debug", "0"), "0");
  EXPECT_FALSE(Exists(path_));
}

TEST_F(ProfileStoreTest, MissingSectionOrKeyGivesTheDefault) {
  WriteFile(path_, "[Other]\r\nFolder 1=x\r\n[Quillbeck]\r\nShell 1=y\r\n");
  EXPECT_EQ(Read("Folder 1"), "dflt");
  EXPECT_EQ(Read("Shell 1"), "y");
}

// A default with trailing blanks comes back without them, as the system's
// profile API hands it back, for a missing file, section or key alike: only
// spaces go, and never the first character.
TEST_F(ProfileStoreTest, DefaultLosesItsTrailingBlanks) {
  const struct {
    const char* default_value;
    const char* read;
  } cases[] = {
      {"dflt  ", "dflt"},
      {"in side ", "in side"},
      {"  lead", "  lead"},
      {" both ", " both"},
      {"tab\t", "tab\t"},
      {"   ", " "},
      {"", ""},
  };
  for (const char* contents : {"", "[Other]\r\nFolder 1=x\r\n", "[Quillbeck]\r\nShell 1=y\r\n"}) {
    if (*contents != '\0') WriteFile(path_, contents);
    for (const auto& c : cases) {
      std::string buffer(256, '#');
      const std::uint32_t count =
          store_->GetString("Quillbeck", "Folder 1", c.default_value, buffer, 256, path_);
      EXPECT_EQ(buffer.substr(0, count), c.read)
          << "default [" << c.default_value << "] with [" << contents << "]";
    }
  }
  // A stored value is the file's matter, never cut by the default's rule.
  WriteFile(path_, "[Quillbeck]\r\nFolder 1=value\r\n");
  EXPECT_EQ(Read("Folder 1", "dflt  "), "value");
}

TEST_F(ProfileStoreTest, LongValueIsCutAndTheBufferBeyondLeftAlone) {
  const std::string value(300, 'v');
  WriteFile(path_, "[Quillbeck]\r\nFolder 1=" + value + "\r\n");
  std::string buffer(256, ' ');
  EXPECT_EQ(store_->GetString("Quillbeck", "Folder 1", "", buffer, 256, path_), 255u);
  EXPECT_EQ(buffer.substr(0, 255), value.substr(0, 255));
  EXPECT_EQ(buffer[255], ' ');

  std::string small(8, '#');
  EXPECT_EQ(store_->GetString("Quillbeck", "missing", "abcdef", small, 4, path_), 3u);
  EXPECT_EQ(small, "abc#####");
}

TEST_F(ProfileStoreTest, WritesCreateTheFileAndReadBack) {
  store_->WriteString("Quillbeck", "Folder 1", "a", path_);
  store_->WriteString("Quillbeck", "Shell 1", " spaced  text ", path_);
  store_->WriteString("Quillbeck", "Folder 1", "b", path_);
  store_->WriteString("Quillbeck", "Shell 2", "", path_);
  EXPECT_EQ(Read("Folder 1"), "b");
  EXPECT_EQ(Read("Shell 2"), "");
  // Whether the blanks at the ends survive is the profile format's matter.
  EXPECT_NE(Read("Shell 1").find("spaced  text"), std::string::npos);
  // Written in place: no temporary file stays beside it.
  EXPECT_EQ(EntryCount(), 1u);
}

// A written value reads back exactly as it stood, through this system's own
// reader (on Windows the profile API, in both its forms), also where a read
// trims blanks at the ends or takes off one pair of enclosing quotes.
TEST_F(ProfileStoreTest, EveryValueReadsBackAsWritten) {
  for (const std::string value : {"\"C:\\My Tools\\run.exe\"", "'/opt/my tools/run'", "C:\\in ",
                                  " lead", "\"", "\"\"", "\"a b\" \"c d\"", "x\t"}) {
    SCOPED_TRACE("[" + value + "]");
    store_->WriteString("Quillbeck", "Shell 1", value, path_);
    EXPECT_EQ(Read("Shell 1"), value);
#ifdef _WIN32
    wchar_t wide[256];
    const DWORD count = GetPrivateProfileStringW(L"Quillbeck", L"Shell 1", L"", wide, 256,
                                                 win32::Utf8ToWide(path_).c_str());
    EXPECT_EQ(win32::WideToUtf8(std::wstring(wide, count)), value);
#endif
  }
}

TEST_F(ProfileStoreTest, LineBreakIsRefusedAndNothingWritten) {
  const std::string before = "[Quillbeck]\r\nFolder 1=a\r\n";
  WriteFile(path_, before);
  EXPECT_THROW(store_->WriteString("Quillbeck", "Folder 1", "x\r\n[Evil]", path_), RuntimeError);
  EXPECT_THROW(store_->WriteString("Quillbeck", "Fol\nder", "x", path_), RuntimeError);
  EXPECT_THROW(store_->WriteString("Quill\rbeck", "Folder 1", "x", path_), RuntimeError);
  // Nor can any form hold more than a read takes.
  EXPECT_THROW(store_->WriteString("Quillbeck", "Folder 1",
                                   std::string(kLongestProfileValue - 1, 'x') + " ", path_),
               RuntimeError);
  EXPECT_EQ(ReadFile(path_), before);
  EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(ProfileStoreTest, ReadOnlyFileMakesTheWriteFail) {
  const std::string before = "[Quillbeck]\r\nFolder 1=a\r\n";
  WriteFile(path_, before);
  std::filesystem::permissions(path_,
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  EXPECT_THROW(store_->WriteString("Quillbeck", "Folder 1", "b", path_), RuntimeError);
  EXPECT_EQ(ReadFile(path_), before);
  EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(ProfileStoreTest, MissingFolderMakesTheWriteFail) {
  EXPECT_THROW(store_->WriteString("Quillbeck", "Debug", "1", folder_.Join("no") + "/Settings.ini"),
               RuntimeError);
}

#ifndef _WIN32
// Byte-exact rewriting is our own engine's promise; Windows' profile API is
// the system's and formats the file its own way.
TEST_F(ProfileStoreTest, WriteChangesOnlyItsLineAndKeepsTheMode) {
  WriteFile(path_, "; settings\n[Other]\nFolder 1 = keep\n\n[quillbeck]\n  folder 1 = old \n\n");
  chmod(path_.c_str(), 0640);
  store_->WriteString("Quillbeck", "Folder 1", "new", path_);
  store_->WriteString("Quillbeck", "Debug", "1", path_);
  EXPECT_EQ(ReadFile(path_),
            "; settings\n[Other]\nFolder 1 = keep\n\n[quillbeck]\n  folder 1 =new\nDebug=1\r\n\n");
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Symbolic links exist only here: the file behind the link is the settings.
TEST_F(ProfileStoreTest, WriteThroughALinkUpdatesItsTarget) {
  const std::string target = folder_.Join("real.ini");
  WriteFile(target, "[Quillbeck]\r\nDebug=0\r\n");
  ASSERT_EQ(symlink(target.c_str(), path_.c_str()), 0);
  store_->WriteString("Quillbeck", "Debug", "1", path_);
  EXPECT_TRUE(std::filesystem::is_symlink(path_));
  EXPECT_EQ(ReadFile(target), "[Quillbeck]\r\nDebug=1\r\n");
}
#endif

}  // namespace
}  // namespace quillbeck
