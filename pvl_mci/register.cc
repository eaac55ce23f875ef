// Linked into the program: makes the "pvl_mci" device type known to the
// media-control service before main runs.
#include "pvl_mci/driver.h"

namespace {

const bool registered = [] {
  pvl::RegisterDriver();
  return true;
}();

}  // namespace
