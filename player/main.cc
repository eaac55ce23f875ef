#include "player/player.h"

int main() { return RunPlayer(); }
