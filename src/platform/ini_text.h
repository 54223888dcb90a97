// The text engine of the profile store: reading and changing one value in the
// contents of an INI file, as pure functions over the bytes (no I/O). The
// Linux profile store is built on it; the rules are those of profile_store.h.
// Every function runs in time linear in the contents.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillbeck {

// FindProfileValue() is the value of `key` in the first section named
// `section` (names trimmed and compared case-insensitively), trimmed and
// freed of one pair of enclosing matching quotes; nullopt when the section or
// the key is missing. A line starting with ";" is a comment; a line without
// "=" is no key line; lines before the first section belong to none.
std::optional<std::string> FindProfileValue(std::string_view contents, std::string_view section,
                                            std::string_view key);

// SetProfileValue() is `contents` with `key` in `section` holding `value`:
// an existing key keeps its line up to and including its "=" and gets the new
// value in place of the old (the line's ending stays as it was); a missing key
// is added after the last key line of the section (after its header when it
// has none); a missing section is added at the end. Added lines end in CR LF.
// Every other byte stays as it was. Texts holding a line break must be
// refused before (ProfileTextHoldsLineBreak), since a line cannot hold them.
std::string SetProfileValue(std::string_view contents, std::string_view section,
                            std::string_view key, std::string_view value);

// ProfileTextHoldsLineBreak() is true when `text` holds CR or LF.
bool ProfileTextHoldsLineBreak(std::string_view text);

// kLongestProfileValue is the longest stored form, in bytes, that start-up
// reads back whole: modINI::ReadWholeINI's largest buffer holds it with room
// to spare.
inline constexpr std::size_t kLongestProfileValue = (std::size_t{1} << 24) - 2;

// ProfileStoredForm() is what a write stores so that a read gives back
// exactly `value`: the value as it stands, or inside one more pair of double
// quotes where a read would change it (a blank or control character at
// either end, which reads trim; or one pair of matching enclosing quotes,
// which reads drop). Every reader of the format, ours and the system's
// profile API, trims a value and then drops one enclosing pair.
std::string ProfileStoredForm(std::string_view value);

// ProfileValueRefusal() says why no form of `value` reads back as it stands
// ("a line break", "a zero byte", "more text than a read takes"), or is
// nullptr when ProfileStoredForm(value) does.
const char* ProfileValueRefusal(std::string_view value);

// ProfileCutLength() is how many bytes of `value` fit a buffer of `size`
// characters with its terminating zero: at most size - 1, one less or more
// when the cut would otherwise split a UTF-8 sequence in two.
std::size_t ProfileCutLength(std::string_view value, std::size_t size);

}  // namespace quillbeck
