// The device type made known to the POSIX media service.
#include <string_view>

#include "pvl_mci/driver.h"

namespace pvl {

void RegisterDriver() {
  mci::RegisterDriver(kDeviceType, [](std::string_view element,
                                      std::unique_ptr<mci::Device>& device) {
    return OpenModule(std::filesystem::path(element), device);
  });
}

}  // namespace pvl
