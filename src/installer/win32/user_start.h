// Starting Quillbeck.exe again for the user whose copy the installer
// closed, never at a higher level than that user's own.
//
// An installer run from an elevated prompt carries the elevated token, and
// so does every action it runs as the user. A copy started with it would
// run every slot's command elevated, and later starts of the program (the
// user's own token) could not reach its window. The user's own level is the
// one their shell runs at.
#pragma once

#include <windows.h>

#include <string>

namespace quillbeck::installer {

struct StartOutcome {
  bool started = false;
  // How it was started, or why it was not: a phrase for the log.
  std::wstring detail;
};

// StartAtUserLevel() starts `exe` in `folder` with the user's environment
// and does not wait. Unless the installer holds the elevated half of a
// split token, it starts with the installer's own token, out of any job the
// installer runs in where the job allows it. Elevated, it starts with the
// token of the process that owns the shell window when that process runs
// for the same user, else with the limited half of the installer's token
// where the system hands it over; with neither it starts nothing.
StartOutcome StartAtUserLevel(const std::wstring& exe, const std::wstring& folder);

}  // namespace quillbeck::installer
