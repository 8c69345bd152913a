#include "tools/patch_params.h"

#include <iterator>

namespace {

constexpr ParamSymbol kFlag[] = {{"off", 0}, {"on", 1}};
constexpr ParamSymbol kOscillatorMode[] = {{"off", 0},  {"ramp", 1},  {"pulse", 2},
                                           {"sine", 3}, {"noise", 4}, {"phase_mod", 5}};
constexpr ParamSymbol kFilterResponse[] = {{"off", 0},      {"lowpass", 1}, {"bandpass", 2},
                                           {"highpass", 3}, {"notch", 4},   {"peak", 5}};
constexpr ParamSymbol kRouting[] = {{"single", 0}, {"serial", 1}, {"parallel", 2}};
constexpr ParamSymbol kDistortionMode[] = {{"off", 0},     {"overdrive", 1}, {"clip", 2},     {"crush", 3},
                                           {"reduce", 4},  {"lowpass", 5},   {"bandpass", 6}, {"highpass", 7},
                                           {"notch", 8},   {"peak", 9}};
constexpr ParamSymbol kLfoWaveform[] = {{"saw", 0}, {"triangle", 1}, {"square", 2}, {"sine", 3}, {"sample_hold", 4}};
constexpr ParamSymbol kLfoPolarity[] = {{"positive", 0}, {"negative", 1}, {"bipolar", 2}};
constexpr ParamSymbol kEffectOrder[] = {{"distortion_first", 0}, {"delay_first", 1}};
constexpr ParamSymbol kDetector[] = {{"off", 0}, {"peak", 1}, {"rms", 2}};
constexpr ParamSymbol kStereoDetection[] = {{"linked", 0}, {"per_side", 1}};
constexpr ParamSymbol kModSources[] = {
    {"velocity", 0},    {"controller1", 1}, {"controller2", 2}, {"controller3", 3}, {"controller4", 4},
    {"controller5", 5}, {"controller6", 6}, {"controller7", 7}, {"envelope1", 8},   {"envelope2", 9},
    {"lfo1", 10},       {"lfo2", 11},       {"key", 12}};

constexpr std::span<const ParamSymbol> kNone{};

constexpr const char* kColor =
    "ramp: peak position (0 falling saw, 64 triangle, 127 rising saw); pulse: width (64 square); "
    "noise: filter damping 1 - sqrt(value/128)";
constexpr const char* kDistortionA =
    "overdrive, clip: output level value/128; crush: coarseness (0 keeps 16 bits); reduce: sample rate "
    "(0 about 43 Hz, 127 nearly full, 128 holds); filter modes: cut-off";
constexpr const char* kDistortionB =
    "overdrive, clip: bias (64 none); crush: bits flipped (value x 512); filter modes: resonance";

#define OSCILLATOR(group, base, mode)                                                                              \
    {group, "mode", base, mode, kOscillatorMode, "waveform"},                                                      \
        {group, "ring", base + 1, 0, kFlag, "on: multiply what the oscillators before it made, instead of adding"}, \
        {group, "transpose", base + 2, 64, kNone, "semitones: value - 64"},                                         \
        {group, "detune", base + 3, 64, kNone, "fraction of a semitone: (value - 64)/128"},                         \
        {group, "color", base + 4, 64, kNone, kColor}, {group, "gain", base + 5, 64, kNone, "level: value/128"}

#define FILTER(group, base)                                                                                      \
    {group, "response", base, 0, kFilterResponse, "off passes the sound unchanged"},                              \
        {group, "cutoff", base + 1, 128, kNone, "2^(10 value/128 - 10) of the highest setting, 128 the highest"}, \
        {group, "resonance", base + 2, 0, kNone, "damping 1 - value/128; 128 rings on without end"}

#define DISTORTION(group, base)                                                                  \
    {group, "mode", base, 0, kDistortionMode, "the effect"},                                      \
        {group, "drive", base + 1, 32, kNone, "input gain 2^((value - 32)/16): 1 at 32, 64 at 128"}, \
        {group, "a", base + 2, 128, kNone, kDistortionA}, {group, "b", base + 3, 64, kNone, kDistortionB}

#define ENVELOPE(group, base)                                                                                      \
    {group, "attack", base, 0, kNone, "rise time: 0 at once, 128 about 12 s"},                                      \
        {group, "decay", base + 1, 64, kNone, "fall to the sustain level: 0 at once, 128 slowest"},                 \
        {group, "sustain", base + 2, 128, kNone, "level held while the key is down, 0..128"},                       \
        {group, "slope", base + 3, 64, kNone, "sustain drift: 64 flat, lower sinks, higher rises"},                 \
        {group, "release", base + 4, 48, kNone, "fall after the key is released: 0 at once, 128 slowest"},          \
        {group, "gain", base + 5, 128, kNone, "output scale value/128"}

#define LFO(group, base)                                                                                            \
    {group, "waveform", base, 3, kLfoWaveform, "shape"},                                                             \
        {group, "key_sync", base + 1, 0, kFlag, "on: every note-on restarts it at its start phase"},                 \
        {group, "one_shot", base + 2, 0, kFlag, "on: it stops at the end of its first cycle"},                       \
        {group, "rate", base + 3, 64, kNone, "one cycle in 4096 blocks (11.9 s) at 0 to 4 blocks (12 ms) at 128"},    \
        {group, "phase", base + 4, 0, kNone, "start phase for key sync, 128 = one cycle"},                           \
        {group, "polarity", base + 5, 2, kLfoPolarity, "positive 0..amount, negative 0..-amount, bipolar +-amount/2"}, \
        {group, "amount", base + 6, 0, kNone, "output size, 0..128"}

#define DELAY(group, base, left, right, mix, feedback, step)                                                     \
    {group, "mix", base, mix, kNone, "echo level (value - 64)/64: 64 off, 128 echo only, 0 inverted"},            \
        {group, "feedback", base + 1, feedback, kNone, "(value - 64)/64 of the echo fed back: 64 none"},           \
        {group, "left", base + 2, left, kNone, "left delay, " step " frames a step"},                              \
        {group, "right", base + 3, right, kNone, "right delay, " step " frames a step"},                           \
        {group, "rate", base + 4, 0, kNone, "modulation rate, 0.02 Hz at 0 to 20 Hz at 128"},                      \
        {group, "depth", base + 5, 0, kNone, "modulation depth, up to 1023 frames at 128"},                        \
        {group, "stereo_phase", base + 6, 64, kNone, "right side's modulation phase: 64 same, 0 or 128 opposite"}

#define DYNAMICS(group, base)                                                                                        \
    {group, "detector", base, 0, kDetector, "off leaves the sound untouched and undelayed"},                          \
        {group, "stereo", base + 1, 0, kStereoDetection, "one detector for both sides or one per side"},              \
        {group, "compensation_off", base + 2, 0, kFlag, "on: the output level is not scaled by the threshold"},       \
        {group, "lookahead", base + 3, 0, kNone, "milliseconds (value x 44.1 frames)"},                               \
        {group, "threshold", base + 4, 64, kNone, "8 x 2^(10 value/128 - 10): 0.0078 at 0, 0.25 at 64, 8 at 128"},    \
        {group, "ratio", base + 5, 64, kNone, "compression above the threshold: 0 none, 128 strongest"},              \
        {group, "attack", base + 6, 16, kNone, "gain fall per frame 2^(-12 value/128): 0 at once"},                   \
        {group, "release", base + 7, 64, kNone, "gain rise per frame 2^(-16 value/128)"},                             \
        {group, "output", base + 8, 64, kNone, "output level 2^((value - 64)/16)"}

constexpr ParamInfo kPatchParams[] = {
    {"voice", "pan", 0, 64, kNone, "0 left, 64 centre, 128 right (equal power)"},
    {"voice", "transpose", 1, 64, kNone, "semitones: value - 64"},
    {"voice", "phase_reset", 58, 0, kFlag, "on: every note-on restarts the oscillators at phase 0"},
    OSCILLATOR("osc1", 2, 1),
    OSCILLATOR("osc2", 8, 0),
    OSCILLATOR("osc3", 14, 0),
    FILTER("filter1", 20),
    FILTER("filter2", 23),
    {"filters", "routing", 26, 0, kRouting, "single: filter 1 only; serial: 1 then 2; parallel: both mixed"},
    {"filters", "balance", 27, 64, kNone, "parallel mix: 0 filter 1 only, 64 both in full, 127 mostly filter 2"},
    DISTORTION("distortion", 28),
    ENVELOPE("envelope1", 32),
    ENVELOPE("envelope2", 38),
    LFO("lfo1", 44),
    LFO("lfo2", 51),
    {"channel", "volume", 59, 100, kNone, "channel gain value/128 x 0.6"},
    {"channel", "reverb_send", 60, 0, kNone, "level into the reverb, value/128 x 0.6 x volume"},
    {"channel", "delay_send", 61, 0, kNone, "level into the global delay, value/128 x 0.6 x volume"},
    {"channel", "effect_order", 62, 0, kEffectOrder, "order of the channel distortion and delay"},
    {"channel", "low_shelf", 63, 0, kNone, "boost below 150 Hz: 0 off, 128 +12 dB"},
    DISTORTION("channel_distortion", 64),
    DELAY("channel_delay", 68, 64, 64, 64, 64, "8"),
    DYNAMICS("channel_dynamics", 75),
    {"", "polyphony", 84, 8, kNone, "most voices the channel may hold at once (the engine has 32)"},
};

constexpr ParamInfo kGlobalParams[] = {
    {"reverb", "decay", 0, 64, kNone, "tail length: 0 longest, 127 shortest"},
    {"reverb", "damping", 1, 32, kNone, "loss of highs inside the tail"},
    {"reverb", "low_cut", 2, 16, kNone, "low cut at the reverb's output, (value/128)^4"},
    {"reverb", "level", 3, 64, kNone, "input level value/128; 0 silences the reverb"},
    DELAY("delay", 4, 32, 48, 96, 80, "248"),
    {"master", "low_cut", 11, 0, kNone, "coefficient ((value + 1)/128)^2: 0 removes only DC"},
    {"master", "high_cut", 12, 127, kNone, "coefficient ((value + 1)/128)^2: 127 off, lower values darken"},
    DYNAMICS("dynamics", 13),
};

#undef OSCILLATOR
#undef FILTER
#undef DISTORTION
#undef ENVELOPE
#undef LFO
#undef DELAY
#undef DYNAMICS

static_assert(std::size(kPatchParams) == kPatchParamBytes);
static_assert(std::size(kGlobalParams) == kGlobalBlockBytes);

const ParamInfo* patch_param_at(int index)
{
    for (const ParamInfo& param : kPatchParams)
        if (param.index == index) return &param;
    return nullptr;
}

std::string escape_cell(const char* text)
{
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '|') out += "\\|";
        else out += *p;
    }
    return out;
}

void append_table(std::string& out, std::span<const ParamInfo> params)
{
    const char* group = nullptr;
    for (const ParamInfo& param : params) {
        if (!group || std::string(group) != param.group) {
            group = param.group;
            out += "\n";
            out += *group ? std::string("`") + group + "`" : std::string("top level");
            out += "\n\n| key | byte | default | values | meaning |\n|---|---|---|---|---|\n";
        }
        std::string values = param.symbols.empty() ? "0..128" : "";
        for (const ParamSymbol& symbol : param.symbols) {
            if (!values.empty()) values += ", ";
            values += std::string(symbol.name) + " (" + std::to_string(symbol.value) + ")";
        }
        const char* symbolic = param_symbol_name(param, param.fallback);
        out += "| `" + std::string(param.name) + "` | " + std::to_string(param.index) + " | " +
               (symbolic ? std::string(symbolic) : std::to_string(param.fallback)) + " | " + values + " | " +
               escape_cell(param.meaning) + " |\n";
    }
}

}  // namespace

std::span<const ParamInfo> patch_params()
{
    return kPatchParams;
}

std::span<const ParamInfo> global_params()
{
    return kGlobalParams;
}

std::span<const ParamSymbol> mod_sources()
{
    return kModSources;
}

bool param_is_flag(const ParamInfo& param)
{
    return param.symbols.data() == kFlag;
}

const char* param_symbol_name(const ParamInfo& param, uint8_t value)
{
    for (const ParamSymbol& symbol : param.symbols)
        if (symbol.value == value) return symbol.name;
    return nullptr;
}

const ParamSymbol* param_symbol_find(std::span<const ParamSymbol> symbols, const std::string& name)
{
    for (const ParamSymbol& symbol : symbols)
        if (name == symbol.name) return &symbol;
    return nullptr;
}

std::string param_symbol_list(std::span<const ParamSymbol> symbols)
{
    std::string out;
    for (size_t i = 0; i < symbols.size(); ++i) {
        if (i > 0) out += i + 1 == symbols.size() ? " or " : ", ";
        out += symbols[i].name;
    }
    return out;
}

std::string mod_destination_name(uint8_t destination)
{
    const ParamInfo* param = destination < kModDestinationCount ? patch_param_at(destination) : nullptr;
    if (!param) return "";
    return std::string(param->group) + "." + param->name;
}

bool mod_destination_find(const std::string& name, uint8_t& destination)
{
    for (const ParamInfo& param : kPatchParams) {
        if (param.index >= kModDestinationCount) continue;
        if (name == std::string(param.group) + "." + param.name) {
            destination = static_cast<uint8_t>(param.index);
            return true;
        }
    }
    return false;
}

const char* mod_source_name(uint8_t source)
{
    for (const ParamSymbol& symbol : kModSources)
        if (symbol.value == source) return symbol.name;
    return nullptr;
}

std::string params_reference_markdown()
{
    std::string out = "### Patch parameters\n";
    append_table(out, kPatchParams);
    out += "\n### Global parameters (`globals:` in SONG.yaml)\n";
    append_table(out, kGlobalParams);
    out += "\n### Modulation sources\n\n| name | value | what |\n|---|---|---|\n";
    for (const ParamSymbol& symbol : kModSources) {
        const char* what = symbol.value == 0    ? "the note's velocity, 0..127"
                           : symbol.value <= 7  ? "the channel's controller value, 0..127"
                           : symbol.value <= 9  ? "the envelope's output"
                           : symbol.value <= 11 ? "the LFO's output"
                                                : "the key: (note - 48) x 2";
        out += "| `" + std::string(symbol.name) + "` | " + std::to_string(symbol.value) + " | " + what + " |\n";
    }
    return out;
}
