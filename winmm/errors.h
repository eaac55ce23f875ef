// The texts of the media-control error numbers.
#ifndef MCIPLAY_WINMM_ERRORS_H
#define MCIPLAY_WINMM_ERRORS_H

#include <windows.h>
#include <mmsystem.h>

#include <string_view>

namespace winmm {

// The text for `error`, or an empty view for a number that has none.
std::string_view ErrorText(MCIERROR error);

}  // namespace winmm

#endif  // MCIPLAY_WINMM_ERRORS_H
