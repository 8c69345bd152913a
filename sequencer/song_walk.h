// Walks a song's event streams as the player emits them, without rendering:
// the transport runs without an engine, so even a long song takes moments.
#pragma once

#include <cstddef>
#include <cstdint>

// tick, frame since player_start (64-bit: long songs exceed 2^32 frames), stream bytes.
using SongVisitor = void (*)(void* context, uint32_t tick, uint64_t frame, const uint8_t* stream, size_t length);

// Plays a validated image from player_start to its end, handing every stream
// to visit. Returns false when the song does not load.
bool song_walk(const uint8_t* image, SongVisitor visit, void* context);
