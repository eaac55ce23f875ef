#include "console/console.h"
#include "player/mci_command.h"
#include "player/player.h"

int main() {
  StartConsole();
  StartMedia();
  return RunPlayer();
}
