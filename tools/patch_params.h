// The one table of patch and global parameters that compile, decompile and
// the documentation share: for every byte its YAML group and name, its
// default (chosen so that a patch that names nothing is a plain, neutral
// sound), the symbolic names of its values where they have meanings, and a
// short description.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "synth/param_layout.h"

struct ParamSymbol {
    const char* name;
    uint8_t value;
};

struct ParamInfo {
    const char* group;                     // YAML group ("osc1"); "" for a top-level key (polyphony)
    const char* name;                      // YAML key inside the group
    uint16_t index;                        // byte in the patch (below kPatchParamBytes) or in the global block
    uint8_t fallback;                      // the value a missing key takes
    std::span<const ParamSymbol> symbols;  // empty: a plain number
    const char* meaning;                   // one line for the documentation
};

// Patch parameters in YAML order: groups in the order of the patch layout
// (the voice group also holds the phase-reset byte), then polyphony.
std::span<const ParamInfo> patch_params();
// Global block parameters in YAML order (the layout order).
std::span<const ParamInfo> global_params();
// Modulation sources 0..12 (12 and above all mean the key).
std::span<const ParamSymbol> mod_sources();

// True for on/off parameters (which also accept true/false and yes/no).
bool param_is_flag(const ParamInfo& param);
// The symbolic name of a value, or nullptr when it has none.
const char* param_symbol_name(const ParamInfo& param, uint8_t value);
const ParamSymbol* param_symbol_find(std::span<const ParamSymbol> symbols, const std::string& name);
// "a, b or c": the names a value can take, for messages.
std::string param_symbol_list(std::span<const ParamSymbol> symbols);

// Modulation destinations by name: "group.name" of the patch parameter with
// that index (below kModDestinationCount).
std::string mod_destination_name(uint8_t destination);
bool mod_destination_find(const std::string& name, uint8_t& destination);
const char* mod_source_name(uint8_t source);

// Every patch and global parameter as Markdown tables, for the authoring guide.
std::string params_reference_markdown();
