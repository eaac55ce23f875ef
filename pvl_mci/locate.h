// Where the device looks for the file an open command names, and what it
// makes of what it finds there. The rule is the same on every system; the
// program's folder and whether a name exists come from the platform.
#ifndef MCIPLAY_PVL_MCI_LOCATE_H
#define MCIPLAY_PVL_MCI_LOCATE_H

#include <filesystem>
#include <vector>

#include "mci/mci_driver.h"

namespace pvl {

// The places to try, in order. An absolute name is only itself; a relative
// one is looked for in the current directory, then in the program's folder,
// then, where the build names a data directory, in ../share/mciplay beside
// the program's folder and in that data directory.
std::vector<std::filesystem::path> Candidates(const std::filesystem::path& element);

// The folder of the running program (on Windows, of the program that opened
// the device), empty if unknown. Platform part.
std::filesystem::path ProgramDir();

// True when an entry of this name is there, whatever it is or leads to (or
// when that cannot be told for another reason than its absence). Platform
// part: the C++ library sees links only through what they lead to on
// Windows.
bool NameExists(const std::filesystem::path& path);

// The first candidate under which anything exists decides, so a file of the
// name never hides behind another: a regular file, or a link to one, is
// stored in `found`; a folder, a link to nothing or anything else fails the
// open with the reason. Nothing under any candidate: the file is not found.
mci::Result Locate(const std::filesystem::path& element,
                   std::filesystem::path& found);

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_LOCATE_H
