// The real seams, gathered.
#include "platform/system_services.h"

namespace quillbeck {

SystemServices::SystemServices() : SystemServices(ProgramFileFolders()) {}

SystemServices::SystemServices(const std::string& folder)
    : SystemServices(FileFolders{folder, folder}) {}

SystemServices::SystemServices(const FileFolders& folders)
    : platform_{*fs_,
                *profile_,
                *launcher_,
                *clock_,
                *time_stamps_,
                *single_instance_,
                folders.settings,
                folders.log_parent,
                folders.default_settings,
                *system_log_} {}

}  // namespace quillbeck
