// The temporary file a copy is written to before it takes the destination's
// name, and how such a file is known again once its writer is gone.
//
// Its name is "~quillbeck-<process id>-<number>.tmp", both parts eight
// lower-case hexadecimal digits, in the destination's folder. From creation
// to rename it is held through one handle that shares it with readers only:
// while that handle is open nobody else can delete, rename or write it, and
// the writer renames it through that same handle, so there is no moment at
// which a living copy can be taken away. When the writer dies the system
// closes the handle; a file of that name that can be opened for deletion
// therefore has no living writer and is abandoned.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/win32/windows_api.h"

namespace quillbeck::win32 {

// DeleteAbandonedCopies() deletes every temporary copy in the folder that
// `prefix` names (ending in its separator, or a bare drive) that no handle
// holds without delete sharing. Only names of exactly the form above are
// touched, only files, never a folder or a link. Never raises.
void DeleteAbandonedCopies(const std::wstring& prefix) noexcept;

class TemporaryCopy {
 public:
  // Creates a new, empty temporary file beside `destination` (UTF-8, as the
  // caller built it). Raises with `destination` as context.
  explicit TemporaryCopy(const std::string& destination);
  // A copy that was not committed is deleted.
  ~TemporaryCopy();
  TemporaryCopy(const TemporaryCopy&) = delete;
  TemporaryCopy& operator=(const TemporaryCopy&) = delete;

  // Fill() appends everything that `source` has from its current position
  // to its end. Raises with `source_context` when reading fails, with the
  // destination when writing does.
  void Fill(HANDLE source, const std::string& source_context);

  // Commit() gives the copy the attributes and last-write time of `like`,
  // writes it through to the disk and renames it over `destination` (which
  // it replaces only with `replace`). Afterwards the temporary name is gone.
  // Raises with the destination as context. `wanted`, when given, is asked
  // right before the rename: false leaves the destination as it was and the
  // copy to be deleted with this object, and Commit() returns false.
  bool Commit(const std::wstring& destination, bool replace, const FILE_BASIC_INFO& like,
              const std::function<bool()>& wanted = {});

  // Runs, when set, in every Commit() right before `wanted` is asked: where
  // a test makes something happen at that moment. The program never sets it.
  static std::function<void()> before_put_in_place;

 private:
  [[noreturn]] void RaiseLast() const;

  std::string context_;
  std::wstring path_;
  UniqueHandle file_;
  bool read_only_ = false;  // the attribute is on, so deletion needs it off first
  bool committed_ = false;
};

}  // namespace quillbeck::win32
