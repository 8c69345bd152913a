// For tools built without the player (no PortAudio, or the build's own song
// compiler): they carry no player, and export says so.
#include "data/carried_player.h"

const uint8_t kCarriedPlayer[1] = {0};
const size_t kCarriedPlayerSize = 0;
