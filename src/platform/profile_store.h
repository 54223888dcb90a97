// The profile store: the two profile-string operations on an INI file.
// Any thread may call; start-up and "Save" call it on the window's thread.
//
// On Windows these are the system's GetPrivateProfileStringA and
// WritePrivateProfileStringA (texts converted between UTF-8 and the ANSI code
// page at the call). On Linux it is our own implementation with the same
// observable behaviour:
//  - a line ends at CR, LF or CR LF and is trimmed of blanks and control
//    characters at both ends;
//  - "[name]" opens a section (the name up to the last "]", trimmed); section
//    and key names match case-insensitively; only the first section of a name
//    is searched, and in it the first key of a name wins;
//  - a key line splits at its first "="; name and value are trimmed; a value
//    enclosed in one pair of matching ' or " loses the pair on read; a line
//    starting with ";" never matches a key;
//  - a write replaces the value of an existing key in its own line and leaves
//    every other line byte for byte; a missing key is added after the last
//    key line of its section, a missing section at the end of the file, a
//    missing file is created; new lines end in CR LF; the file is replaced
//    atomically (written beside it, then renamed over it).
// A value that these reads would change is written in a form they give back
// as it stands; the Windows profile API reads that form the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quillbeck {

class ProfileStore {
 public:
  virtual ~ProfileStore() = default;

  // GetString() places the value of `key` in `section` of the file at `path`
  // into `buffer` (resized to `size` characters by the caller; the value
  // takes at most size - 1 of them, the rest is left as it was) and returns
  // how many characters it placed. A missing file, section or key places the
  // default instead, cut the same way. Never raises.
  //
  // With `cut`, it also says whether the text may go on beyond what it
  // placed: false only when what it placed is the whole text. On Linux this
  // is exact (a cut that keeps a UTF-8 character whole may place fewer than
  // size - 1 bytes); on Windows it is true whenever the system's count, in
  // code-page characters, leaves the buffer full, since the profile API
  // tells a cut value from one that just fills the buffer by nothing else.
  virtual std::uint32_t GetString(const std::string& section, const std::string& key,
                                  const std::string& default_value, std::string& buffer,
                                  std::uint32_t size, const std::string& path,
                                  bool* cut = nullptr) = 0;

  // CheckValue() raises RuntimeError, naming `key`, when no form of `value`
  // in the file would read back as `value`: a line break or a zero anywhere,
  // more than kLongestProfileValue bytes (ini_text.h); on Windows also a
  // character that the ANSI code page lacks. It writes nothing, so a caller
  // can check every value before it writes any.
  virtual void CheckValue(const std::string& key, const std::string& value) = 0;

  // WriteString() makes `key` in `section` of the file at `path` hold
  // `value`, in the form that a later GetString() with room enough gives
  // back exactly (ProfileStoredForm: one more pair of quotes where blanks at
  // the ends or enclosing quotes would otherwise be lost). Raises
  // RuntimeError when the file cannot be written (read-only, no access to
  // the folder) or when the value, key or section is one that CheckValue()
  // refuses.
  virtual void WriteString(const std::string& section, const std::string& key,
                           const std::string& value, const std::string& path) = 0;
};

// NewProfileStore() makes the profile store of this system.
std::unique_ptr<ProfileStore> NewProfileStore();

}  // namespace quillbeck
