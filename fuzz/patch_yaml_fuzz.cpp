// Fuzzes the patch file reader: any text either reads or gets an error with
// its place, and what reads writes back into a text that reads the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/patch_yaml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    Warnings warnings;
    std::vector<uint8_t> patch;
    try {
        patch = patch_yaml_parse(text, "fuzz.yaml", warnings);
    } catch (const AuthorError&) {
        return 0;
    }
    if (patch_yaml_parse(patch_yaml_write(patch, "again"), "again.yaml", warnings) != patch) __builtin_trap();
    return 0;
}
