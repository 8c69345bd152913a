// Text files the programs carry: the starter bank's patch files.
#pragma once

#include <cstddef>

struct EmbeddedText {
    const char* name;  // the file's name ("piano.yaml")
    const char* text;  // its contents
};

// data/bank/*.yaml in name order.
extern const EmbeddedText kStarterBankSources[];
extern const size_t kStarterBankSourcesCount;
