// The seams one running Quillbeck talks to the world through, gathered so the
// core takes them in one piece. The program builds it from the real
// implementations (SystemServices); tests build it over a temporary folder
// with fakes where the real service cannot be observed.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/process_launcher.h"
#include "platform/profile_store.h"
#include "platform/system.h"
#include "platform/system_log.h"

namespace quillbeck {

struct Platform {
  FileSystem& fs;
  ProfileStore& profile;
  ProcessLauncher& launcher;
  Clock& clock;
  TimeStampFormat& time_stamps;
  SingleInstance& single_instance;
  // The folder that holds Settings.ini; one copy of Quillbeck runs per
  // settings folder. The executable folder, except in the packaged Linux
  // build, which keeps its files where the user's desktop keeps them.
  std::string settings_folder;
  // The folder that holds Logs/; the executable folder likewise.
  std::string log_parent_folder;
  // The folder of the Settings.ini that start-up reads in place of the
  // user's own, which is missing: a system-wide default, in the packaged
  // Linux build only. Empty otherwise, and start-up reads settings_folder's.
  // Save always writes settings_folder's.
  std::string default_settings_folder = {};
  // Where errors and the service's start and end are also recorded. Last and
  // optional, so a Platform built for a test of something else needs none.
  SystemLog& system_log = DiscardingSystemLog();
};

}  // namespace quillbeck
