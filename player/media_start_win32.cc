// Windows' media-control service finds the driver of each device type in
// the registry, where installing the driver put it.
#include "player/mci_command.h"

void StartMedia() {}
