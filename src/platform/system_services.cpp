// The real seams, gathered.
#include "platform/system_services.h"

#include <utility>

namespace quillbeck {

SystemServices::SystemServices() : SystemServices(ExecutableFolder()) {}

SystemServices::SystemServices(std::string folder)
    : platform_{*fs_, *profile_, *launcher_, *clock_, *time_stamps_, *single_instance_,
                std::move(folder)} {}

}  // namespace quillbeck
