// The soak test's self-checking files and the small helpers its programs
// share.
//
// A dropped file is one text line, then its payload:
//   QBSOAK1 <name> <writer> <sequence> <version> <payload length>\n
// The payload is a function of (writer, sequence, version, length) alone, so
// any reader can tell from the bytes whether it holds the whole file as it
// was written, and the checker can rebuild every expected file byte for byte.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace soak {

struct Header {
  std::string name;
  int writer = 0;
  long sequence = 0;
  long version = 0;
  std::size_t length = 0;
};

inline std::string HeaderLine(const Header& h) {
  return "QBSOAK1 " + h.name + " " + std::to_string(h.writer) + " " + std::to_string(h.sequence) +
         " " + std::to_string(h.version) + " " + std::to_string(h.length) + "\n";
}

// Payload() is the payload of the file the header describes.
inline std::string Payload(const Header& h) {
  std::uint64_t state = (static_cast<std::uint64_t>(h.writer) << 48) ^
                        (static_cast<std::uint64_t>(h.sequence) << 16) ^
                        static_cast<std::uint64_t>(h.version) ^ 0x9e3779b97f4a7c15ull;
  std::string bytes(h.length, '\0');
  for (std::size_t i = 0; i < h.length; i += 8) {
    // splitmix64
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    std::memcpy(bytes.data() + i, &z, h.length - i < 8 ? h.length - i : 8);
  }
  return bytes;
}

inline std::string Contents(const Header& h) { return HeaderLine(h) + Payload(h); }

// Check() is empty when `bytes` is a whole file named `name`, else why not;
// the header read is left in `out`.
inline std::string Check(const std::string& name, const std::string& bytes, Header& out) {
  const std::size_t eol = bytes.find('\n');
  if (eol == std::string::npos || eol > 512)
    return "no header line (" + std::to_string(bytes.size()) + " bytes)";
  char read_name[300];
  long writer, sequence, version;
  unsigned long length;
  const std::string line = bytes.substr(0, eol);
  if (std::sscanf(line.c_str(), "QBSOAK1 %299s %ld %ld %ld %lu", read_name, &writer, &sequence,
                  &version, &length) != 5) {
    return "bad header line";
  }
  out.name = read_name;
  out.writer = static_cast<int>(writer);
  out.sequence = sequence;
  out.version = version;
  out.length = length;
  if (out.name != name) return "header names " + out.name;
  if (bytes.size() != eol + 1 + length) {
    return "length " + std::to_string(bytes.size() - eol - 1) + " of " + std::to_string(length);
  }
  if (bytes.compare(eol + 1, std::string::npos, Payload(out)) != 0) return "payload differs";
  return {};
}

// ReadAll() reads a whole file; false when it cannot be opened or read.
inline bool ReadAll(const std::string& path, std::string& bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bytes.clear();
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      return n == 0;
    }
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

// AppendLine() appends one line to a record file in a single write, so lines
// of processes writing the same file at once never mix.
inline void AppendLine(const std::string& path, const std::string& line) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string text = line + "\n";
  if (write(fd, text.data(), text.size()) < 0) {
  }
  close(fd);
}

inline bool EndsInGdt(const std::string& name) {
  return name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".gdt") == 0;
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Names() lists the entries of a folder (no "." and ".."); empty when it
// cannot be read.
inline std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(dir);
  return names;
}

// The layout under the soak root.
inline std::string Watched(const std::string& root, int slot) {
  return root + "/watched" + std::to_string(slot);
}
inline std::string Temp(const std::string& root, int slot) { return Watched(root, slot) + "/Temp"; }
// Where the driver moves what reached Temp, between rounds of faults, so
// that Temp stays small however long the test runs.
inline std::string Archive(const std::string& root, int slot) {
  return root + "/archive" + std::to_string(slot);
}
inline std::string Records(const std::string& root) { return root + "/records"; }
inline std::string Control(const std::string& root, const char* flag) {
  return root + "/control/" + flag;
}

}  // namespace soak
