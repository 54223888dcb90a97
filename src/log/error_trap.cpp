// The error trap's handling of one caught failure.
#include "log/error_trap.h"

#include <new>
#include <string>

#include "platform/runtime_error.h"
#include "platform/system_log.h"

namespace quillbeck {

namespace {

struct Caught {
  std::int32_t number;
  std::string description;
};

// Describe() takes the number and description of a caught failure once. A
// failure that is no run-time error still needs a number the operator can
// quote: out of memory keeps its usual 7, anything else is reported as an
// internal error, 51, with whatever text it carries.
Caught Describe(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const RuntimeError& e) {
    return {e.Number(), e.Description()};
  } catch (const std::bad_alloc&) {
    return {7, "Out of memory"};
  } catch (const std::exception& e) {
    return {51, std::string("Internal error: ") + e.what()};
  } catch (...) {
    return {51, "Internal error"};
  }
}

}  // namespace

void ErrorTrap::Catch(const char* procedure, std::exception_ptr error) noexcept {
  try {
    const Caught caught = Describe(error);
    global_.LogError(caught.number, caught.description, procedure);
    // Ticks go on inside the box's modal loop; a failure caught meanwhile is
    // logged but gets no box of its own, so a failure that repeats every tick
    // never piles up boxes and never stalls the service.
    if (box_open_) return;
    box_open_ = true;
    try {
      // The box reads as the entry does, control characters written visibly.
      window_.ShowMessageBox(OneLine(std::to_string(caught.number) + " - " + caught.description),
                             MessageIcon::kNone);
    } catch (...) {
    }
    box_open_ = false;
  } catch (...) {
  }
}

}  // namespace quillbeck
