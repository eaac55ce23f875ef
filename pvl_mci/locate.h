// Where the device looks for the file an open command names.
#ifndef MCIPLAY_PVL_MCI_LOCATE_H
#define MCIPLAY_PVL_MCI_LOCATE_H

#include <string>
#include <string_view>
#include <vector>

namespace pvl {

// The places to try, in order. An absolute name is only itself; a relative
// one is looked for in the current directory, then beside the executable,
// then in the installed data directory (the one relative to the executable,
// ../share/mciplay, then the one the build was configured with).
std::vector<std::string> Candidates(std::string_view element);

// The directory of the running executable, empty if unknown.
std::string ExecutableDir();

// The first candidate that is a regular file, or empty.
std::string Locate(std::string_view element);

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_LOCATE_H
