// The names the plugin is known by; the bundle's descriptions use the same.
#pragma once

constexpr const char* kPluginUri = "urn:cantilena:instrument";
constexpr const char* kSongParameterUri = "urn:cantilena:instrument#song";  // SONG.yaml, an atom:Path

// Port indices.
enum PluginPort : unsigned {
    kPortControl = 0,  // atom sequence in: MIDI and parameter messages
    kPortNotify = 1,   // atom sequence out: which song is loaded
    kPortLeft = 2,
    kPortRight = 3,
};
