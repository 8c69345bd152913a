#include "tools/starter_bank.h"

#include <array>
#include <map>

#include "data/embedded_texts.h"
#include "tools/author_common.h"
#include "tools/output_file.h"
#include "tools/patch_yaml.h"

namespace {

constexpr std::array<BankFamily, 16> kFamilies = {{
    {"piano", "piano"},
    {"chromatic percussion", "chromatic-percussion"},
    {"organ", "organ"},
    {"guitar", "guitar"},
    {"bass", "bass"},
    {"strings", "strings"},
    {"ensemble", "ensemble"},
    {"brass", "brass"},
    {"reed", "reed"},
    {"pipe", "pipe"},
    {"synth lead", "synth-lead"},
    {"synth pad", "synth-pad"},
    {"synth effects", "synth-effects"},
    {"ethnic", "ethnic"},
    {"percussive", "percussive"},
    {"sound effects", "sound-effects"},
}};

constexpr std::array<DrumGroupInfo, kDrumGroupCount> kDrumGroups = {{
    {"kick", "drum-kick", "35 36"},
    {"snares and claps", "drum-snare", "37-40"},
    {"hi-hats and cymbals", "drum-cymbals", "42 44 46 49 51-53 55 57 59"},
    {"toms and other percussion", "drum-toms", "the other keys"},
}};

constexpr const char* kYaml = ".yaml";

// Every patch and the globals, parsed once.
struct ParsedBank {
    std::map<std::string, std::vector<uint8_t>, std::less<>> patches;
    std::vector<uint8_t> globals;

    ParsedBank()
    {
        Warnings ignored;  // the bank's tests keep its files free of warnings
        const std::string globals_file = std::string(kBankGlobals) + kYaml;
        for (size_t i = 0; i < kStarterBankSourcesCount; ++i) {
            const std::string name = kStarterBankSources[i].name;
            const std::string where = std::string(kStarterBankName) + " bank: " + name;
            if (name == globals_file)
                globals = globals_yaml_parse(kStarterBankSources[i].text, where, ignored);
            else
                patches[name.substr(0, name.size() - std::string_view(kYaml).size())] =
                    patch_yaml_parse(kStarterBankSources[i].text, where, ignored);
        }
    }
};

const ParsedBank& parsed_bank()
{
    static const ParsedBank bank;
    return bank;
}

}  // namespace

std::span<const BankFamily> bank_families()
{
    return kFamilies;
}

const DrumGroupInfo& drum_group_info(DrumGroup group)
{
    return kDrumGroups[group];
}

DrumGroup drum_group_of_key(uint8_t key)
{
    switch (key) {
    case 35:
    case 36:
        return kDrumKick;
    case 37:
    case 38:
    case 39:
    case 40:
        return kDrumSnare;
    case 42:
    case 44:
    case 46:
    case 49:
    case 51:
    case 52:
    case 53:
    case 55:
    case 57:
    case 59:
        return kDrumCymbals;
    default:
        return kDrumToms;
    }
}

const std::vector<uint8_t>& starter_patch(std::string_view name)
{
    const ParsedBank& bank = parsed_bank();
    const auto found = bank.patches.find(name);
    if (found == bank.patches.end())
        throw AuthorError(std::string(kStarterBankName) + " bank", "has no patch named " + std::string(name));
    return found->second;
}

const std::vector<uint8_t>& starter_globals()
{
    return parsed_bank().globals;
}

std::vector<BankSourceText> starter_sources()
{
    std::vector<BankSourceText> sources;
    for (size_t i = 0; i < kStarterBankSourcesCount; ++i)
        sources.push_back({kStarterBankSources[i].name, kStarterBankSources[i].text});
    return sources;
}

void starter_write(const std::string& directory, bool force)
{
    std::vector<SourceFile> files;
    for (const BankSourceText& source : starter_sources())
        files.push_back({std::string(source.name), std::vector<uint8_t>(source.text.begin(), source.text.end())});
    output_write_directory(directory, files, force);
}

std::string starter_listing()
{
    std::string out = "The starter bank: General MIDI programs (counted from 0) by family\n";
    char line[160];
    for (size_t f = 0; f < kFamilies.size(); ++f) {
        const int first = static_cast<int>(f) * kFamilyPrograms;
        std::snprintf(line, sizeof line, "  %3d-%-3d  %-22s %s%s\n", first, first + kFamilyPrograms - 1,
                      kFamilies[f].name, kFamilies[f].patch, kYaml);
        out += line;
    }
    out += "Drums (MIDI channel 10), split by key into up to four song channels\n";
    for (const DrumGroupInfo& group : kDrumGroups) {
        std::snprintf(line, sizeof line, "  %-28s %-26s %s%s\n", group.keys, group.name, group.patch, kYaml);
        out += line;
    }
    std::snprintf(line, sizeof line, "  %-28s %-26s %s%s\n", "", "groups sharing a channel", kDrumKitPatch, kYaml);
    out += line;
    std::snprintf(line, sizeof line, "The speech channel (song channel 15): %s%s\nSong-wide effects: %s%s\n",
                  kVoicePatch, kYaml, kBankGlobals, kYaml);
    out += line;
    return out;
}
