// SystemServices owns the real implementation of every seam and lends them
// out as one Platform, so each program builds the same set in one line.
#pragma once

#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/process_launcher.h"
#include "platform/profile_store.h"
#include "platform/system.h"
#include "platform/system_log.h"

namespace quillbeck {

class SystemServices {
 public:
  // SystemServices() finds Settings.ini and Logs/ where this build keeps
  // them (ProgramFileFolders).
  SystemServices();
  // SystemServices(folder) finds both in `folder` instead, as a test or a
  // benchmark that installs the program in a folder of its own needs.
  explicit SystemServices(const std::string& folder);
  // SystemServices(folders) finds each in the folder named.
  explicit SystemServices(const FileFolders& folders);

  SystemServices(const SystemServices&) = delete;
  SystemServices& operator=(const SystemServices&) = delete;

  Platform& platform() { return platform_; }

 private:
  std::unique_ptr<FileSystem> fs_ = NewFileSystem();
  std::unique_ptr<ProfileStore> profile_ = NewProfileStore();
  std::unique_ptr<ProcessLauncher> launcher_ = NewProcessLauncher();
  std::unique_ptr<Clock> clock_ = NewSystemClock();
  std::unique_ptr<TimeStampFormat> time_stamps_ = NewTimeStampFormat();
  std::unique_ptr<SingleInstance> single_instance_ = NewSingleInstance();
  std::unique_ptr<SystemLog> system_log_ = NewSystemLog();
  Platform platform_;
};

}  // namespace quillbeck
