// Every way the Linux copy moves bytes, each taken for real: the kernel's
// copy_file_range, sendfile and our own buffer on this file system, and the
// clone on an XFS image, where copies share extents.
#include "platform/posix/copy_data.h"

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "support/temp_folder.h"

namespace quillbeck::posix {
namespace {

using testing::ReadFile;
using testing::WriteFile;

// Three buffers and a bit: the buffer's loop runs more than once.
std::string RandomBytes(std::size_t size) {
  std::mt19937 generator(7);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

// CopyWith() copies `from` to `to` starting with `method` and says how many
// times the copy checked in between.
int CopyWith(CopyMethod method, const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  EXPECT_GE(in, 0);
  EXPECT_GE(out, 0);
  struct stat st;
  EXPECT_EQ(fstat(in, &st), 0);
  int checks = 0;
  CopyData(
      in, out, st.st_size, method, [&] { ++checks; }, from, to);
  close(in);
  close(out);
  return checks;
}

std::string MethodName(CopyMethod method) {
  switch (method) {
    case CopyMethod::kClone: return "Clone";
    case CopyMethod::kRange: return "Range";
    case CopyMethod::kSendfile: return "Sendfile";
    case CopyMethod::kBuffer: return "Buffer";
  }
  return "?";
}

class CopyMethodTest : public ::testing::TestWithParam<CopyMethod> {};

TEST_P(CopyMethodTest, CopiesEveryByteAndChecksBetweenChunks) {
  testing::TempFolder folder;
  const std::string bytes = RandomBytes((std::size_t{3} << 20) + 123);
  WriteFile(folder.Join("from.GDT"), bytes);
  EXPECT_GE(CopyWith(GetParam(), folder.Join("from.GDT"), folder.Join("to")), 1);
  EXPECT_TRUE(ReadFile(folder.Join("to")) == bytes);
  WriteFile(folder.Join("empty.GDT"), "");
  CopyWith(GetParam(), folder.Join("empty.GDT"), folder.Join("empty"));
  EXPECT_EQ(ReadFile(folder.Join("empty")), "");
}

INSTANTIATE_TEST_SUITE_P(Methods, CopyMethodTest,
                         ::testing::Values(CopyMethod::kRange, CopyMethod::kSendfile,
                                           CopyMethod::kBuffer),
                         [](const auto& info) { return MethodName(info.param); });

// SharesExtents() is true when the file's first extent is shared with
// another file, as a clone's is.
bool SharesExtents(const std::string& path) {
  // A fiemap followed by room for four extents.
  alignas(fiemap) unsigned char storage[sizeof(fiemap) + 4 * sizeof(fiemap_extent)] = {};
  auto* map = reinterpret_cast<fiemap*>(storage);
  map->fm_length = ~0ull;
  map->fm_extent_count = 4;
  map->fm_flags = FIEMAP_FLAG_SYNC;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool mapped = ioctl(fd, FS_IOC_FIEMAP, map) == 0;
  close(fd);
  return mapped && map->fm_mapped_extents > 0 &&
         (map->fm_extents[0].fe_flags & FIEMAP_EXTENT_SHARED) != 0;
}

TEST(CopyClone, SharesTheExtentsOnXfs) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting an image needs root";
  if (std::system("command -v mkfs.xfs >/dev/null") != 0) GTEST_SKIP() << "no mkfs.xfs";
  testing::TempFolder folder;
  const std::string image = folder.Join("xfs.img");
  const std::string mount = folder.Make("xfs");
  ASSERT_EQ(std::system(("truncate -s 320M '" + image + "' && mkfs.xfs -q -m reflink=1 '" + image +
                         "' && mount -o loop '" + image + "' '" + mount + "'")
                            .c_str()),
            0);
  const std::string bytes = RandomBytes(std::size_t{1} << 20);
  WriteFile(mount + "/from.GDT", bytes);
  EXPECT_EQ(CopyWith(CopyMethod::kClone, mount + "/from.GDT", mount + "/to"), 1)
      << "a clone is one step";
  EXPECT_TRUE(ReadFile(mount + "/to") == bytes);
  EXPECT_TRUE(SharesExtents(mount + "/to"));
  EXPECT_EQ(std::system(("umount '" + mount + "'").c_str()), 0);
}

}  // namespace
}  // namespace quillbeck::posix
