// The error trap that nine event procedures of frmMain carry.
//
// A run-time error anywhere in the procedure is written to Error.log under
// the procedure's name, shown in a message box ("<number> - <description>",
// OK, no icon) and cleared; the procedure ends and the program runs on. Any
// other exception is trapped the same way, so the resident program never dies
// of one. While a box of the trap is open (ticks go on inside its modal
// loop), a further error is logged without opening a second box.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "log/Global.h"
#include "platform/window.h"

namespace quillbeck {

class ErrorTrap {
 public:
  ErrorTrap(Global& global, Window& window) : global_(global), window_(window) {}

  // Run() runs `body` under the trap named `procedure`.
  template <typename Body>
  void Run(const char* procedure, Body&& body) noexcept {
    try {
      std::forward<Body>(body)();
    } catch (...) {
      Catch(procedure, std::current_exception());
    }
  }

  // BoxOpen() is true while a message box of the trap waits for the user.
  bool BoxOpen() const { return box_open_; }

 private:
  void Catch(const char* procedure, std::exception_ptr error) noexcept;

  Global& global_;
  Window& window_;
  bool box_open_ = false;
};

}  // namespace quillbeck
