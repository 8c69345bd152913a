#include "tools/patch_params.h"

#include <iterator>

#include "synth/param_layout.h"
#include "synth/voice.h"

namespace {

constexpr ParamSymbol kFlag[] = {{"off", 0}, {"on", 1}};
constexpr ParamSymbol kOscillatorMode[] = {{"off", kOscillatorSilent},  {"ramp", kOscillatorRamp},
                                           {"pulse", kOscillatorPulse}, {"sine", kOscillatorSine},
                                           {"noise", kOscillatorNoise}, {"phase_mod", kOscillatorPhaseMod}};
constexpr ParamSymbol kFilterResponse[] = {{"off", kFilterBypass},        {"lowpass", kFilterLowPass},
                                           {"bandpass", kFilterBandPass}, {"highpass", kFilterHighPass},
                                           {"notch", kFilterNotch},       {"peak", kFilterAll}};
constexpr ParamSymbol kRouting[] = {{"single", kRoutingFilter1},
                                    {"serial", kRoutingSerial},
                                    {"parallel", kRoutingParallel}};
constexpr ParamSymbol kDistortionMode[] = {
    {"off", kDistortionOff},           {"overdrive", kDistortionOverdrive}, {"clip", kDistortionClip},
    {"crush", kDistortionBitCrusher},  {"reduce", kDistortionRateReducer},  {"lowpass", kDistortionLowPass},
    {"bandpass", kDistortionBandPass}, {"highpass", kDistortionHighPass},   {"notch", kDistortionNotch},
    {"peak", kDistortionAllPass}};
constexpr ParamSymbol kLfoWaveform[] = {{"saw", kLfoSaw},
                                        {"triangle", kLfoTriangle},
                                        {"square", kLfoSquare},
                                        {"sine", kLfoSine},
                                        {"sample_hold", kLfoSampleHold}};
constexpr ParamSymbol kLfoPolarity[] = {{"positive", kLfoPositive},
                                        {"negative", kLfoNegative},
                                        {"bipolar", kLfoBipolar}};
constexpr ParamSymbol kEffectOrder[] = {{"distortion_first", 0}, {"delay_first", 1}};
constexpr ParamSymbol kDetector[] = {{"off", 0}, {"peak", 1}, {"rms", 2}};
constexpr ParamSymbol kStereoDetection[] = {{"linked", 0}, {"per_side", 1}};
constexpr ParamSymbol kModSources[] = {{"velocity", kModSourceVelocity},
                                       {"controller1", kModSourceController1},
                                       {"controller2", kModSourceController1 + 1},
                                       {"controller3", kModSourceController1 + 2},
                                       {"controller4", kModSourceController1 + 3},
                                       {"controller5", kModSourceController1 + 4},
                                       {"controller6", kModSourceController1 + 5},
                                       {"controller7", kModSourceController1 + 6},
                                       {"envelope1", kModSourceEnvelope1},
                                       {"envelope2", kModSourceEnvelope2},
                                       {"lfo1", kModSourceLfo1},
                                       {"lfo2", kModSourceLfo2},
                                       {"key", kModSourceKey}};

constexpr std::span<const ParamSymbol> kNone{};

constexpr const char* kColour =
    "ramp: peak position (0 falling saw, 64 triangle, 127 rising saw); pulse: width (64 square); "
    "noise: filter damping 1 - sqrt(value/128)";
constexpr const char* kDistortionA =
    "overdrive, clip: output level value/128; crush: coarseness (0 keeps 16 bits); reduce: sample rate "
    "(0 about 43 Hz, 127 nearly full, 128 holds); filter modes: cut-off";
constexpr const char* kDistortionB =
    "overdrive, clip: bias (64 none); crush: bits flipped (value x 512); filter modes: resonance";

// One row per byte of a unit's slice, at base + the unit's own offset. The
// columns: group, key, byte, default, symbols, meaning.
// clang-format off
#define OSCILLATOR(group, base, mode)                                                                                \
    {group, "mode", base + OscillatorParam::kMode, mode, kOscillatorMode, "waveform"},                               \
    {group, "ring", base + OscillatorParam::kRing, 0, kFlag,                                                         \
     "on: multiply what the oscillators before it made, instead of adding"},                                         \
    {group, "transpose", base + OscillatorParam::kTranspose, 64, kNone, "semitones: value - 64"},                    \
    {group, "detune", base + OscillatorParam::kDetune, 64, kNone, "fraction of a semitone: (value - 64)/128"},        \
    {group, "color", base + OscillatorParam::kColour, 64, kNone, kColour},                                           \
    {group, "gain", base + OscillatorParam::kGain, 64, kNone, "level: value/128"}

#define FILTER(group, base)                                                                                          \
    {group, "response", base + FilterParam::kMode, 0, kFilterResponse, "off passes the sound unchanged"},            \
    {group, "cutoff", base + FilterParam::kCutoff, 128, kNone,                                                       \
     "2^(10 value/128 - 10) of the highest setting, 128 the highest"},                                               \
    {group, "resonance", base + FilterParam::kResonance, 0, kNone,                                                   \
     "damping 1 - value/128; 128 rings on without end"}

#define DISTORTION(group, base)                                                                                      \
    {group, "mode", base + DistortionParam::kMode, 0, kDistortionMode, "the effect"},                                \
    {group, "drive", base + DistortionParam::kDrive, 32, kNone,                                                      \
     "input gain 2^((value - 32)/16): 1 at 32, 64 at 128"},                                                          \
    {group, "a", base + DistortionParam::kA, 128, kNone, kDistortionA},                                              \
    {group, "b", base + DistortionParam::kB, 64, kNone, kDistortionB}

#define ENVELOPE(group, base)                                                                                        \
    {group, "attack", base + EnvelopeParam::kAttack, 0, kNone, "rise time: 0 at once, 128 about 12 s"},              \
    {group, "decay", base + EnvelopeParam::kDecay, 64, kNone,                                                        \
     "fall to the sustain level: 0 at once, 128 slowest"},                                                           \
    {group, "sustain", base + EnvelopeParam::kSustain, 128, kNone, "level held while the key is down, 0..128"},      \
    {group, "slope", base + EnvelopeParam::kSlope, 64, kNone,                                                        \
     "sustain drift: 64 flat, lower sinks, higher rises"},                                                           \
    {group, "release", base + EnvelopeParam::kRelease, 48, kNone,                                                    \
     "fall after the key is released: 0 at once, 128 slowest"},                                                      \
    {group, "gain", base + EnvelopeParam::kGain, 128, kNone, "output scale value/128"}

#define LFO(group, base)                                                                                             \
    {group, "waveform", base + LfoParam::kWaveform, 3, kLfoWaveform, "shape"},                                       \
    {group, "key_sync", base + LfoParam::kKeySync, 0, kFlag, "on: every note-on restarts it at its start phase"},    \
    {group, "one_shot", base + LfoParam::kOneShot, 0, kFlag, "on: it stops at the end of its first cycle"},          \
    {group, "rate", base + LfoParam::kRate, 64, kNone,                                                               \
     "one cycle in 4096 blocks (11.9 s) at 0 to 4 blocks (12 ms) at 128"},                                           \
    {group, "phase", base + LfoParam::kStartPhase, 0, kNone, "start phase for key sync, 128 = one cycle"},           \
    {group, "polarity", base + LfoParam::kPolarity, 2, kLfoPolarity,                                                 \
     "positive 0..amount, negative 0..-amount, bipolar +-amount/2"},                                                 \
    {group, "amount", base + LfoParam::kAmount, 0, kNone, "output size, 0..128"}

#define DELAY(group, base, left, right, mix, feedback, step)                                                         \
    {group, "mix", base + DelayParam::kMix, mix, kNone,                                                              \
     "echo level (value - 64)/64: 64 off, 128 echo only, 0 inverted"},                                               \
    {group, "feedback", base + DelayParam::kFeedback, feedback, kNone,                                               \
     "(value - 64)/64 of the echo fed back: 64 none"},                                                               \
    {group, "left", base + DelayParam::kLeft, left, kNone, "left delay, " step " frames a step"},                     \
    {group, "right", base + DelayParam::kRight, right, kNone, "right delay, " step " frames a step"},                 \
    {group, "rate", base + DelayParam::kRate, 0, kNone, "modulation rate, 0.02 Hz at 0 to 20 Hz at 128"},             \
    {group, "depth", base + DelayParam::kDepth, 0, kNone, "modulation depth, up to 1023 frames at 128"},              \
    {group, "stereo_phase", base + DelayParam::kStereoPhase, 64, kNone,                                              \
     "right side's modulation phase: 64 same, 0 or 128 opposite"}

#define DYNAMICS(group, base)                                                                                        \
    {group, "detector", base + DynamicsParam::kDetector, 0, kDetector,                                               \
     "off leaves the sound untouched and undelayed"},                                                                \
    {group, "stereo", base + DynamicsParam::kStereo, 0, kStereoDetection,                                            \
     "one detector for both sides or one per side"},                                                                 \
    {group, "compensation_off", base + DynamicsParam::kCompensationOff, 0, kFlag,                                    \
     "on: the output level is not scaled by the threshold"},                                                         \
    {group, "lookahead", base + DynamicsParam::kLookAhead, 0, kNone, "milliseconds (value x 44.1 frames)"},          \
    {group, "threshold", base + DynamicsParam::kThreshold, 64, kNone,                                                \
     "8 x 2^(10 value/128 - 10): 0.0078 at 0, 0.25 at 64, 8 at 128"},                                                \
    {group, "ratio", base + DynamicsParam::kRatio, 64, kNone,                                                        \
     "compression above the threshold: 0 none, 128 strongest"},                                                      \
    {group, "attack", base + DynamicsParam::kAttack, 16, kNone, "gain fall per frame 2^(-12 value/128): 0 at once"}, \
    {group, "release", base + DynamicsParam::kRelease, 64, kNone, "gain rise per frame 2^(-16 value/128)"},          \
    {group, "output", base + DynamicsParam::kOutput, 64, kNone, "output level 2^((value - 64)/16)"}
// clang-format on

constexpr int kVoice = kPatchVoiceOffset;
constexpr int kChannel = kPatchChannelOffset;

constexpr ParamInfo kPatchParams[] = {
    {"voice", "pan", kVoice + kVoicePan, 64, kNone, "0 left, 64 centre, 128 right (equal power)"},
    {"voice", "transpose", kVoice + kVoiceTranspose, 64, kNone, "semitones: value - 64"},
    {"voice", "phase_reset", kVoice + kVoicePhaseReset, 0, kFlag,
     "on: every note-on restarts the oscillators at phase 0"},
    OSCILLATOR("osc1", kVoice + kVoiceOscillator1, kOscillatorRamp),
    OSCILLATOR("osc2", kVoice + kVoiceOscillator2, kOscillatorSilent),
    OSCILLATOR("osc3", kVoice + kVoiceOscillator3, kOscillatorSilent),
    FILTER("filter1", kVoice + kVoiceFilter1),
    FILTER("filter2", kVoice + kVoiceFilter2),
    {"filters", "routing", kVoice + kVoiceRouting, kRoutingFilter1, kRouting,
     "single: filter 1 only; serial: 1 then 2; parallel: both mixed"},
    {"filters", "balance", kVoice + kVoiceBalance, 64, kNone,
     "parallel mix: 0 filter 1 only, 64 both in full, 127 mostly filter 2"},
    DISTORTION("distortion", kVoice + kVoiceDistortion),
    ENVELOPE("envelope1", kVoice + kVoiceEnvelope1),
    ENVELOPE("envelope2", kVoice + kVoiceEnvelope2),
    LFO("lfo1", kVoice + kVoiceLfo1),
    LFO("lfo2", kVoice + kVoiceLfo2),
    {"channel", "volume", kChannel + kChannelVolume, 100, kNone, "channel gain value/128 x 0.6"},
    {"channel", "reverb_send", kChannel + kChannelReverbSend, 0, kNone,
     "level into the reverb, value/128 x 0.6 x volume"},
    {"channel", "delay_send", kChannel + kChannelDelaySend, 0, kNone,
     "level into the global delay, value/128 x 0.6 x volume"},
    {"channel", "effect_order", kChannel + kChannelEffectOrder, 0, kEffectOrder,
     "order of the channel distortion and delay"},
    {"channel", "low_shelf", kChannel + kChannelShelf, 0, kNone, "boost below 150 Hz: 0 off, 128 +12 dB"},
    DISTORTION("channel_distortion", kChannel + kChannelDistortion),
    DELAY("channel_delay", kChannel + kChannelDelay, 64, 64, 64, 64, "8"),
    DYNAMICS("channel_dynamics", kChannel + kChannelDynamics),
    {"", "polyphony", kPatchPolyphonyOffset, 8, kNone, "most voices the channel may hold at once (the engine has 32)"},
};

constexpr ParamInfo kGlobalParams[] = {
    {"reverb", "decay", kGlobalReverb + ReverbParam::kDecay, 64, kNone, "tail length: 0 longest, 127 shortest"},
    {"reverb", "damping", kGlobalReverb + ReverbParam::kDamping, 32, kNone, "loss of highs inside the tail"},
    {"reverb", "low_cut", kGlobalReverb + ReverbParam::kLowCut, 16, kNone,
     "low cut at the reverb's output, (value/128)^4"},
    {"reverb", "level", kGlobalReverb + ReverbParam::kInput, 64, kNone, "input level value/128; 0 silences the reverb"},
    DELAY("delay", kGlobalDelay, 32, 48, 96, 80, "248"),
    {"master", "low_cut", kGlobalLowCut, 0, kNone, "coefficient ((value + 1)/128)^2: 0 removes only DC"},
    {"master", "high_cut", kGlobalHighCut, 127, kNone, "coefficient ((value + 1)/128)^2: 127 off, lower values darken"},
    DYNAMICS("dynamics", kGlobalDynamics),
};

#undef OSCILLATOR
#undef FILTER
#undef DISTORTION
#undef ENVELOPE
#undef LFO
#undef DELAY
#undef DYNAMICS

// Every byte of a block has exactly one row: a unit that gains a parameter
// fails here until its row is written.
constexpr bool covers_each_byte_once(std::span<const ParamInfo> params, int bytes)
{
    if (params.size() != static_cast<size_t>(bytes)) return false;
    for (int index = 0; index < bytes; ++index) {
        int rows = 0;
        for (const ParamInfo& param : params)
            if (param.index == index) ++rows;
        if (rows != 1) return false;
    }
    return true;
}

static_assert(covers_each_byte_once(kPatchParams, kPatchParamBytes));
static_assert(covers_each_byte_once(kGlobalParams, kGlobalParamCount));

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
        if (*p == '|')
            out += "\\|";
        else
            out += *p;
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
        const int source = symbol.value;
        const char* what = source == kModSourceVelocity   ? "the note's velocity, 0..127"
                           : source < kModSourceEnvelope1 ? "the channel's controller value, 0..127"
                           : source < kModSourceLfo1      ? "the envelope's output"
                           : source < kModSourceKey       ? "the LFO's output"
                                                          : "the key: (note - 48) x 2";
        out += "| `" + std::string(symbol.name) + "` | " + std::to_string(symbol.value) + " | " + what + " |\n";
    }
    return out;
}
