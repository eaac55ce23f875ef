// On a POSIX system the program links its own media-control service
// (winmm/) and the module device (pvl_mci/), and joins them here.
#include <filesystem>
#include <string_view>

#include "player/mci_command.h"
#include "pvl_mci/open_module.h"
#include "winmm/service.h"

void StartMedia() {
  winmm::AddDeviceType(
      pvl::kDeviceType,
      [](std::string_view element, std::unique_ptr<mci::Device>& device) {
        return pvl::OpenModule(std::filesystem::path(element), device);
      });
}
