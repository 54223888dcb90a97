// modINI: the settings file Settings.ini and its keys.
//
// One section [Quillbeck] with "Folder 1" to "Folder 5", "Shell 1" to
// "Shell 5" and "Debug". Reads go through ReadINI; Save writes each key
// straight through the profile store.
#pragma once

#include <cstdint>
#include <string>

#include "platform/profile_store.h"

namespace quillbeck::modINI {

inline constexpr const char* kSection = "Quillbeck";
inline constexpr const char* kDebugKey = "Debug";
inline constexpr std::int16_t kBufferSize = 256;

// FolderKey() is "Folder " and the slot number, "Folder 1" to "Folder 5".
std::string FolderKey(std::int16_t slot);

// ShellKey() is "Shell " and the slot number, "Shell 1" to "Shell 5".
std::string ShellKey(std::int16_t slot);

// SettingsPath() is `settings_folder` (the executable folder, or the
// user's configuration folder in the installed Linux build) followed by the
// separator and "Settings.ini".
std::string SettingsPath(const std::string& settings_folder);

// ReadINI() returns the value of `key` in `section` of the file at `path`:
// the first n characters of a buffer of `size` blanks after the profile
// store placed n characters into it. Trims nothing and checks nothing; a
// size below 1 reads nothing.
std::string ReadINI(ProfileStore& store, const std::string& section, const std::string& key,
                    const std::string& default_value, const std::string& path, std::int16_t size);

// ReadWholeINI() is ReadINI() with a buffer of kBufferSize, read again with
// twice the buffer for as long as the store says it may have cut the value,
// so a value comes back whole whatever its length (a long command line
// included) and whatever character stands at the buffer's end.
std::string ReadWholeINI(ProfileStore& store, const std::string& section, const std::string& key,
                         const std::string& default_value, const std::string& path);

// ToBoolean() is the truth-value conversion of the "Debug" value: a number
// gives false for zero and true otherwise ("0"; "1", "-1", "2"); the words
// True and False in any letter case give true and false; any other text,
// the empty text included, raises RuntimeError 13 "Type mismatch".
bool ToBoolean(const std::string& text);

}  // namespace quillbeck::modINI
