// The dialog identifiers of the window's controls, derived from each
// control's name and index in the description (ui/window_layout.h).
//
// Identifiers start at 100 so none collides with IDOK (1) or IDCANCEL (2),
// which the dialog manager sends on Enter and Esc; the programs that drive
// the window from outside know them by these numbers.
#pragma once

#include "ui/window_layout.h"

namespace quillbeck::win32 {

// ControlId() is the identifier of a control: the single controls from 100,
// the slots' text boxes at 110 and 120 plus the slot, the labels at 130 plus
// their index.
constexpr int ControlId(ui::ControlName name, int index = ui::kNoIndex) {
  switch (name) {
    case ui::ControlName::kCmdStart: return 100;
    case ui::ControlName::kCmdSave: return 101;
    case ui::ControlName::kChkDebug: return 102;
    case ui::ControlName::kPicture1: return 103;
    case ui::ControlName::kTxtFolder: return 110 + index;
    case ui::ControlName::kTxtShell: return 120 + index;
    case ui::ControlName::kLabel1: return 130 + index;
  }
  return 0;
}

constexpr int ControlId(const ui::Control& control) {
  return ControlId(control.name, control.index);
}

}  // namespace quillbeck::win32
