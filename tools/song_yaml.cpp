#include "tools/song_yaml.h"

#include <array>

#include "sequencer/song_format.h"
#include "sequencer/song_trailer.h"
#include "synth/constants.h"
#include "tools/patch_yaml.h"
#include "tools/song_lyrics.h"
#include "tools/starter_bank.h"
#include "tools/yaml_document.h"

namespace {

constexpr int kLastSelectableText = 62;  // controller 4 selects texts 0..62

// What reading SONG.yaml gathers beyond the description itself.
struct SongReading {
    const YamlDocument& doc;
    const FileReader& read;
    SongDescription& desc;
    std::string directory;
    std::vector<std::string> patch_files;           // resolved paths of the distinct patches ("" for inline ones)
    std::array<bool, kSongChannels> listed_midi{};  // a MIDI channel some song channel names
    std::array<bool, kSongChannels> named_midi{};   // a song channel that names its MIDI channel
    std::array<std::array<bool, kSongControllers>, kSongChannels>
        named_controllers{};  // song controllers given a source
    bool have_midi = false;
    bool have_globals = false;
};

// midi: song.mid, or midi: {file: song.mid, events: tidy | as_written}
void read_midi(SongReading& r, const YAML::Node& value)
{
    const YamlDocument& doc = r.doc;
    r.have_midi = true;
    // yaml-cpp nodes are references: reset() rebinds, = would overwrite.
    YAML::Node file;
    file.reset(value);
    if (value.IsMap()) {
        file.reset(YAML::Node());
        doc.each_entry(value, "midi", [&](const YAML::Node& key, const std::string& field, const YAML::Node& v) {
            if (field == "file") {
                file.reset(v);
            } else if (field == "events") {
                const std::string mode = doc.scalar(v, "events");
                if (mode == "as_written")
                    r.desc.import.as_written = true;
                else if (mode == "tidy")
                    r.desc.import.as_written = false;
                else
                    doc.fail(v, "events must be tidy or as_written");
            } else {
                doc.fail(key, "unknown key \"" + field + "\" in midi (known: file, events)");
            }
        });
        if (!file.IsDefined() || file.IsNull()) doc.fail(value, "midi needs a file");
    }
    r.desc.midi_file = path_join(r.directory, doc.scalar(file, "midi"));
    r.desc.midi_where = doc.where(file);
}

// globals: a file name, or the groups themselves.
void read_globals(SongReading& r, const YAML::Node& value)
{
    r.have_globals = true;
    if (!value.IsScalar()) {
        r.desc.global_block = globals_yaml_from_node(r.doc, value);
        return;
    }
    const std::string file = path_join(r.directory, value.Scalar());
    r.desc.global_block = globals_yaml_parse(yaml_text(r.read(file)), file, r.doc.warnings);
}

// One program's patch: a file (read once however many programs name it) or
// the groups written in place.
int read_patch(SongReading& r, const YAML::Node& value)
{
    if (value.IsScalar()) {
        const std::string file = path_join(r.directory, value.Scalar());
        for (size_t i = 0; i < r.patch_files.size(); ++i)
            if (r.patch_files[i] == file) return static_cast<int>(i);
        r.desc.patches.push_back(patch_yaml_read(file, r.read, r.doc.warnings));
        r.patch_files.push_back(file);
    } else if (value.IsMap() || value.IsNull()) {
        r.desc.patches.push_back(patch_yaml_from_node(r.doc, value));
        r.patch_files.push_back("");
    } else {
        r.doc.fail(value, "a patch is a file name or a mapping of parameter groups");
    }
    return static_cast<int>(r.desc.patches.size() - 1);
}

// patches: {program: patch, ...}, and bank: starter for the programs not listed.
void read_patches(SongReading& r, const YAML::Node& value)
{
    r.doc.each_entry(value, "patches", [&](const YAML::Node& key, const std::string& name, const YAML::Node& patch) {
        if (name == "bank") {
            if (r.doc.scalar(patch, "bank") != kStarterBankName)
                r.doc.fail(patch, std::string("the bank the tool carries is \"") + kStarterBankName + "\"");
            r.desc.starter_bank = true;
            return;
        }
        const int program = static_cast<int>(r.doc.integer_in(key, 0, kProgramCount - 1, "a program number"));
        const int index = read_patch(r, patch);
        r.desc.programs.push_back({program, index, r.doc.where(key)});
    });
}

// {lyrics: "words"}, sung a syllable a note, or {spoken: "words"}: the
// phonetic text the words make (fitted to the notes later, at compile).
std::string speech_from_words(const YamlDocument& doc, const YAML::Node& item, SongDescription& desc)
{
    const char* const form = "a speech text in words is {lyrics: \"...\"} (sung) or {spoken: \"...\"}";
    if (item.size() != 1) doc.fail(item, form);
    const auto entry = *item.begin();
    const std::string key = doc.scalar(entry.first, "a speech text's key");
    if (key != "lyrics" && key != "spoken") doc.fail(entry.first, form);
    const std::string words = doc.scalar(entry.second, "the words");
    const YAML::Mark mark = entry.second.Mark();
    SpeechWords item_words{desc.texts.size(),
                           words,
                           key == "lyrics" ? LyricsStyle::sung : LyricsStyle::spoken,
                           {doc.path, mark.is_null() ? 1 : mark.line + 1}};
    std::string text = lyrics_to_phonetic(words, item_words.style, item_words.source);
    desc.speech_words.push_back(std::move(item_words));
    return text;
}

// speech: a list of phonetic texts, 8-bit characters, or texts in words;
// within the text block's limit.
void read_speech(SongReading& r, const YAML::Node& value)
{
    const YamlDocument& doc = r.doc;
    r.desc.has_speech = true;
    r.desc.speech_where = doc.where(value);
    if (value.IsNull()) return;
    if (!value.IsSequence()) doc.fail(value, "speech must be a list of phonetic texts");
    size_t bytes = 4;
    for (const YAML::Node& item : value) {
        std::string text;
        TextFault fault;
        if (item.IsMap()) {
            text = speech_from_words(doc, item, r.desc);
        } else if (!latin1_from_utf8(doc.scalar(item, "a speech text"), text, fault)) {
            doc.fail(item, text_fault_message(fault));
        }
        if (r.desc.texts.size() == kLastSelectableText + 1)
            doc.warn(item, "texts from number 63 on cannot be selected (controller 4 selects 0..62)");
        r.desc.texts.push_back(text);
        bytes += 4 + text.size() + 1;
    }
    if (bytes >= kSpeechBlockLimit)
        doc.fail(value, "the speech texts take " + std::to_string(bytes) + " bytes; the song format allows " +
                            std::to_string(kSpeechBlockLimit - 1));
}

// controllers: {song controller: MIDI controller or none, ...}
void read_controllers(const YamlDocument& doc, const YAML::Node& value, ChannelRoute& route,
                      std::array<bool, kSongControllers>& named)
{
    doc.each_entry(value, "controllers", [&](const YAML::Node& key, const std::string&, const YAML::Node& source) {
        const int k = static_cast<int>(doc.integer_in(key, 1, kSongControllers, "a song controller number"));
        named[k - 1] = true;
        if (source.IsScalar() && source.Scalar() == "none") {
            route.controller_source[k - 1] = -1;
        } else {
            route.controller_source[k - 1] =
                static_cast<int>(doc.integer_in(source, 0, 127, "the MIDI controller number"));
        }
    });
}

// title: printable text the export's trailer can hold.
void read_title(SongReading& r, const YAML::Node& value)
{
    r.desc.title = r.doc.scalar(value, "title");
    if (!song_title_valid(r.desc.title.data(), r.desc.title.size()))
        r.doc.fail(value, "the title must be printable text of at most " + std::to_string(kTrailerTitleBytes - 1) +
                              " bytes (UTF-8)");
}

// One song channel's options.
void read_channel(const YamlDocument& doc, const YAML::Node& node, int channel, ChannelRoute& route, bool& named_midi,
                  std::array<bool, kSongControllers>& named_controllers)
{
    doc.each_entry(node, "channel " + std::to_string(channel),
                   [&](const YAML::Node& key, const std::string& name, const YAML::Node& value) {
                       if (name == "midi_channel") {
                           named_midi = true;
                           if (value.IsScalar() && value.Scalar() == "none")
                               route.midi_channel = -1;
                           else
                               route.midi_channel = static_cast<int>(doc.integer_in(value, 1, 16, "midi_channel")) - 1;
                       } else if (name == "transpose") {
                           route.transpose = static_cast<int>(doc.integer_in(value, -127, 127, "transpose"));
                       } else if (name == "program") {
                           route.program = static_cast<int>(doc.integer_in(value, 0, 127, "program"));
                       } else if (name == "sustain") {
                           const std::string text = doc.scalar(value, "sustain");
                           if (text == "on" || text == "true" || text == "yes")
                               route.sustain = true;
                           else if (text == "off" || text == "false" || text == "no")
                               route.sustain = false;
                           else
                               doc.fail(value, "sustain must be on or off");
                       } else if (name == "controllers") {
                           read_controllers(doc, value, route, named_controllers);
                       } else {
                           doc.fail(key, "unknown channel option \"" + name +
                                             "\" (known: midi_channel, transpose, program, controllers, sustain)");
                       }
                   });
}

// channels: {song channel: options, ...}
void read_channels(SongReading& r, const YAML::Node& value)
{
    r.doc.each_entry(value, "channels", [&](const YAML::Node& key, const std::string&, const YAML::Node& options) {
        const int c = static_cast<int>(r.doc.integer_in(key, 0, kSongChannels - 1, "a song channel"));
        ChannelRoute& route = r.desc.import.channels[c];
        bool named = false;
        read_channel(r.doc, options, c, route, named, r.named_controllers[c]);
        r.named_midi[c] = named;
        if (named && route.midi_channel >= 0) r.listed_midi[route.midi_channel] = true;
    });
}

// A song channel that does not name its MIDI channel takes the one of its own
// number, unless another song channel has claimed that one.
void route_unnamed_channels(SongReading& r)
{
    for (int c = 0; c < kSongChannels; ++c) {
        if (r.named_midi[c]) continue;
        r.desc.import.channels[c].midi_channel = r.listed_midi[c] ? -1 : c;
    }
}

// With the starter bank, the channels SONG.yaml leaves alone follow General
// MIDI: their controllers read as gm_import_options() reads them (volume and
// expression to be combined), the channel MIDI channel 10 feeds is split by
// key unless SONG.yaml gives it a program, MIDI channel 16 leaves the speech
// channel unless the song sings; without globals:, the bank's effects.
void take_bank_rules(SongReading& r)
{
    SongDescription& desc = r.desc;
    const ImportOptions gm = gm_import_options();
    GmRouting& routing = desc.gm_routing;
    routing.drum_channel = -1;
    for (int c = 0; c < kSongChannels; ++c) {
        ChannelRoute& route = desc.import.channels[c];
        for (int k = 0; k < kSongControllers; ++k)
            if (!r.named_controllers[c][k]) route.controller_source[k] = gm.channels[c].controller_source[k];
        routing.midi_channel[c] = route.midi_channel;
        routing.combine_volume[c] = !r.named_controllers[c][kResetController - 1] &&
                                    !r.named_controllers[c][kExpressionController - 1] &&
                                    !r.named_controllers[c][kVolumeController - 1];
        if (route.midi_channel == kMidiDrumChannel && route.program < 0) routing.drum_channel = c;
    }
    routing.move_channel_16 =
        !r.named_midi[kSpeechChannel] && desc.import.channels[kSpeechChannel].midi_channel == kVoiceMidiChannel;
    if (!r.have_globals) desc.global_block = starter_globals();
}

}  // namespace

SongDescription song_description_of_midi(const std::string& midi_file)
{
    SongDescription desc;
    desc.path = midi_file;
    desc.midi_file = midi_file;
    desc.midi_where = midi_file;
    desc.import = gm_import_options();
    desc.global_block = starter_globals();
    desc.starter_bank = true;
    return desc;
}

SongDescription song_yaml_read(const std::string& path, const FileReader& read, Warnings& warnings)
{
    SongDescription desc;
    desc.path = path;
    desc.import = midi_import_default_options();
    desc.global_block = globals_yaml_defaults();
    const YamlDocument doc{path, warnings};
    const YAML::Node root = yaml_load(yaml_text(read(path)), path);
    if (!root.IsMap()) doc.fail(root, "SONG.yaml must be a mapping (midi:, patches:, ...)");

    SongReading r{doc, read, desc, path_directory(path), {}};
    doc.each_entry(root, "SONG.yaml", [&](const YAML::Node& key, const std::string& name, const YAML::Node& value) {
        if (name == "midi") {
            read_midi(r, value);
        } else if (name == "ticks_per_quarter") {
            desc.import.ticks_per_quarter =
                static_cast<uint32_t>(doc.integer_in(value, 1, kMaxTicksPerQuarter, "ticks_per_quarter"));
        } else if (name == "end_tick") {
            desc.has_end_tick = true;
            desc.end_tick = static_cast<uint32_t>(doc.integer_in(value, 0, 0xFFFFFFFFll, "end_tick"));
        } else if (name == "globals") {
            read_globals(r, value);
        } else if (name == "patches") {
            read_patches(r, value);
        } else if (name == "speech") {
            read_speech(r, value);
        } else if (name == "title") {
            read_title(r, value);
        } else if (name == "channels") {
            read_channels(r, value);
        } else {
            doc.fail(key,
                     "unknown key \"" + name +
                         "\" (known: title, midi, patches, globals, speech, channels, ticks_per_quarter, end_tick)");
        }
    });
    if (!r.have_midi) doc.fail(root, "SONG.yaml names no MIDI file (midi: song.mid)");
    if (desc.patches.empty() && !desc.starter_bank)
        doc.fail(root, "SONG.yaml names no patches (patches: {0: piano.yaml}, or {bank: starter})");
    route_unnamed_channels(r);
    if (desc.starter_bank) take_bank_rules(r);
    return desc;
}

std::string song_yaml_write(const SongYamlOutput& song)
{
    std::string out = "# A Cantilena song: cantilena-tool compile SONG.yaml -o song.img\n";
    out +=
        "midi: {file: " + yaml_quote(song.midi_file) + ", events: " + (song.as_written ? "as_written" : "tidy") + "}\n";
    if (song.ticks_per_quarter != 0) out += "ticks_per_quarter: " + std::to_string(song.ticks_per_quarter) + "\n";
    if (song.has_end_tick) out += "end_tick: " + std::to_string(song.end_tick) + "\n";
    out += "globals:\n";
    out += globals_yaml_write(song.global_block, "  ");
    out += "patches:\n";
    for (const auto& [program, file] : song.programs)
        out += "  " + std::to_string(program) + ": " + yaml_quote(file) + "\n";
    if (song.has_speech) {
        if (song.texts.empty()) {
            out += "speech: []\n";
        } else {
            out += "speech:\n";
            for (const std::string& text : song.texts) out += "  - " + yaml_quote(text) + "\n";
        }
    }
    return out;
}
