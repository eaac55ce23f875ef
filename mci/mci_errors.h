// The texts of the media-control error numbers.
#ifndef MCIPLAY_MCI_MCI_ERRORS_H
#define MCIPLAY_MCI_MCI_ERRORS_H

#include <windows.h>
#include <mmsystem.h>

#include <string_view>

namespace mci {

// The text for `error`, or an empty view for a number that has none.
std::string_view ErrorText(MCIERROR error);

}  // namespace mci

#endif  // MCIPLAY_MCI_MCI_ERRORS_H
