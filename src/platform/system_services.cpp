// The real seams, gathered.
#include "platform/system_services.h"


namespace quillbeck {

SystemServices::SystemServices() : SystemServices(ExecutableFolder()) {}

SystemServices::SystemServices(const std::string& folder)
    : platform_{*fs_, *profile_, *launcher_, *clock_, *time_stamps_, *single_instance_, folder,
                folder} {}

}  // namespace quillbeck
