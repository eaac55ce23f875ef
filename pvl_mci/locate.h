// Where the device looks for the file an open command names, and what it
// makes of what it finds there. The rule is the same on every system; the
// program's folder and whether a name exists come from the platform.
#ifndef MCIPLAY_PVL_MCI_LOCATE_H
#define MCIPLAY_PVL_MCI_LOCATE_H

#include <filesystem>
#include <vector>

#include "mci/device.h"

namespace pvl {

// The places to try, in order. An absolute name is only itself; a relative
// one is looked for in the current directory, then in the program's folder,
// then, where the build names a data directory, in ../share/mciplay beside
// the program's folder and in that data directory.
std::vector<std::filesystem::path> Candidates(
    const std::filesystem::path& element);

// The first candidate under which anything exists decides, so a file of the
// name never hides behind another: a regular file, or a link to one, is
// stored in `found`; a folder, a link to nothing or anything else fails the
// open with the reason. Nothing under any candidate: the file is not found.
mci::Result Locate(const std::filesystem::path& element,
                   std::filesystem::path& found);

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_LOCATE_H
