// TestPlatform: the platform of a running frmMain over a real temporary
// executable folder: the real file system, profile store and launcher of
// this system; a fixed clock, time stamp, single-instance mark and system
// log; no system-wide default settings folder. The fixtures of the core and
// of the Qt window derive from it.
#pragma once

#include <memory>

#include "platform/platform.h"
#include "support/fake_services.h"
#include "support/temp_folder.h"

namespace quillbeck::testing {

struct TestPlatform {
  TempFolder install;  // the executable folder
  TempFolder data;     // watched folders live here
  std::unique_ptr<FileSystem> fs = NewFileSystem();
  std::unique_ptr<ProfileStore> profile = NewProfileStore();
  std::unique_ptr<ProcessLauncher> launcher = NewProcessLauncher();
  FixedClock clock;
  FixedTimeStamps time_stamps;
  FakeSingleInstance single_instance;
  RecordingSystemLog system_log;
  Platform platform{*fs,         *profile,        *launcher,      clock,
                    time_stamps, single_instance, install.Path(), install.Path(),
                    "",          system_log};
};

}  // namespace quillbeck::testing
