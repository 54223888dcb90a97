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

namespace quillbeck {

struct Platform {
  FileSystem& fs;
  ProfileStore& profile;
  ProcessLauncher& launcher;
  Clock& clock;
  TimeStampFormat& time_stamps;
  SingleInstance& single_instance;
  // The executable folder: Settings.ini and Logs/ are found from it.
  std::string executable_folder;
};

}  // namespace quillbeck
