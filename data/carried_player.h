// The player built without a song of its own, as the bytes of its stripped
// program file: cantilena-tool carries it, and export appends a song to it.
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint8_t kCarriedPlayer[];
extern const size_t kCarriedPlayerSize;  // 0 when the tool was built without the player
