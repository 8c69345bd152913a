#include "tools/song_yaml.h"

#include <cstdio>
#include <set>

#include <yaml-cpp/yaml.h>

#include "sequencer/song_trailer.h"
#include "synth/patch.h"
#include "tools/patch_params.h"
#include "tools/song_writer.h"

namespace {

constexpr int kMaxByte = 255;
constexpr int kParamScaleTop = 128;
constexpr int kMaxModEntries = 255;
constexpr int kLastSelectableText = 62;  // controller 4 selects texts 0..62

// One YAML document with the name of its file, for messages.
struct Document {
    std::string path;
    Warnings& warnings;

    std::string where(const YAML::Node& node) const
    {
        const YAML::Mark mark = node.Mark();
        if (mark.is_null()) return path;
        return at_line(path, mark.line + 1, mark.column + 1);
    }

    [[noreturn]] void fail(const YAML::Node& node, const std::string& what) const { throw AuthorError(where(node), what); }

    void warn(const YAML::Node& node, const std::string& what) const { warnings.add(where(node), what); }

    // A value written with a YAML tag ("!hEH_ x" is the tag !hEH_ on "x") is
    // refused rather than read without its tag.
    void refuse_tag(const YAML::Node& node) const
    {
        const std::string& tag = node.Tag();
        if (!tag.empty() && tag != "?" && tag != "!")
            fail(node, "the value carries the YAML tag \"" + tag + "\"; write it in double quotes");
    }

    std::string scalar(const YAML::Node& node, const std::string& what) const
    {
        if (!node.IsScalar()) fail(node, what + " must be a single value");
        refuse_tag(node);
        return node.Scalar();
    }

    bool integer(const YAML::Node& node, long long& value) const
    {
        if (!node.IsScalar()) return false;
        refuse_tag(node);
        const std::string& text = node.Scalar();
        size_t i = 0;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        if (i == text.size() || text.size() - i > 12) return false;
        long long out = 0;
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            out = out * 10 + (text[i] - '0');
        }
        value = negative ? -out : out;
        return true;
    }

    long long integer_in(const YAML::Node& node, long long low, long long high, const std::string& what) const
    {
        long long value = 0;
        if (!integer(node, value))
            fail(node, what + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
        if (value < low || value > high)
            fail(node, what + " is " + std::to_string(value) + "; it must be from " + std::to_string(low) + " to " +
                           std::to_string(high));
        return value;
    }

    // Iterates a mapping, refusing repeated keys.
    template <typename Visit>
    void each_entry(const YAML::Node& map, const std::string& what, Visit visit) const
    {
        if (map.IsNull()) return;
        if (!map.IsMap()) fail(map, what + " must be a mapping of keys to values");
        std::set<std::string> seen;
        for (const auto& entry : map) {
            const YAML::Node& key = entry.first;
            const std::string name = scalar(key, "a key of " + what);
            if (!seen.insert(name).second) fail(key, "\"" + name + "\" appears twice in " + what);
            visit(key, name, entry.second);
        }
    }
};

YAML::Node load_yaml(const std::string& text, const std::string& path)
{
    try {
        return YAML::Load(text);
    } catch (const YAML::Exception& e) {
        const std::string where = e.mark.is_null() ? path : at_line(path, e.mark.line + 1, e.mark.column + 1);
        throw AuthorError(where, "not valid YAML: " + e.msg);
    }
}

std::string text_of(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string key_list(std::span<const ParamInfo> params, const std::string& group)
{
    std::string out;
    for (const ParamInfo& param : params) {
        if (group != param.group) continue;
        if (!out.empty()) out += ", ";
        out += param.name;
    }
    return out;
}

std::string group_list(std::span<const ParamInfo> params, const char* extra)
{
    std::string out;
    std::set<std::string> seen;
    for (const ParamInfo& param : params) {
        const std::string name = *param.group ? param.group : param.name;
        if (!seen.insert(name).second) continue;
        if (!out.empty()) out += ", ";
        out += name;
    }
    if (extra && *extra) out += std::string(", ") + extra;
    return out;
}

uint8_t param_value(const Document& doc, const YAML::Node& node, const ParamInfo& param, const std::string& label)
{
    long long number = 0;
    if (doc.integer(node, number)) {
        if (number < 0 || number > kMaxByte)
            doc.fail(node, label + " is " + std::to_string(number) + "; a parameter is a byte, 0..128 on its scale");
        if (number > kParamScaleTop)
            doc.warn(node, label + " is " + std::to_string(number) + ", above the top of the 0..128 scale");
        return static_cast<uint8_t>(number);
    }
    const std::string text = node.IsScalar() ? node.Scalar() : std::string();
    if (!param.symbols.empty() && node.IsScalar()) {
        if (const ParamSymbol* symbol = param_symbol_find(param.symbols, text)) return symbol->value;
        if (param_is_flag(param)) {
            if (text == "true" || text == "yes") return 1;
            if (text == "false" || text == "no") return 0;
        }
    }
    if (param.symbols.empty()) doc.fail(node, label + " must be a number 0..128");
    doc.fail(node, label + " must be " + param_symbol_list(param.symbols) + " or a number 0..128");
}

// Reads "group: {key: value, ...}" entries into bytes for the parameters of
// a table; other keys go to other_key (which returns false for unknown ones).
template <typename Other>
void parse_groups(const Document& doc, const YAML::Node& root, std::span<const ParamInfo> params,
                  std::vector<uint8_t>& bytes, const char* extra_keys, Other other_key)
{
    doc.each_entry(root, "the file", [&](const YAML::Node& key, const std::string& name, const YAML::Node& value) {
        bool is_group = false;
        for (const ParamInfo& param : params) {
            if (!*param.group && name == param.name) {
                bytes[param.index] = param_value(doc, value, param, name);
                return;
            }
            if (name == param.group) is_group = true;
        }
        if (is_group) {
            doc.each_entry(value, "group \"" + name + "\"",
                           [&](const YAML::Node& pkey, const std::string& pname, const YAML::Node& pvalue) {
                               for (const ParamInfo& param : params) {
                                   if (name == param.group && pname == param.name) {
                                       bytes[param.index] = param_value(doc, pvalue, param, name + "." + pname);
                                       return;
                                   }
                               }
                               doc.fail(pkey, "unknown parameter \"" + pname + "\" in group \"" + name +
                                                  "\" (it has: " + key_list(params, name) + ")");
                           });
            return;
        }
        if (!other_key(key, name, value))
            doc.fail(key, "unknown key \"" + name + "\" (known: " + group_list(params, extra_keys) + ")");
    });
}

std::vector<uint8_t> default_bytes(std::span<const ParamInfo> params, size_t size)
{
    std::vector<uint8_t> bytes(size, 0);
    for (const ParamInfo& param : params) bytes[param.index] = param.fallback;
    return bytes;
}

uint8_t mod_field(const Document& doc, const YAML::Node& node, const std::string& what, bool is_source)
{
    long long number = 0;
    if (doc.integer(node, number)) {
        if (number < 0 || number > kMaxByte) doc.fail(node, what + " must be 0..255");
        return static_cast<uint8_t>(number);
    }
    const std::string text = doc.scalar(node, what);
    if (is_source) {
        if (const ParamSymbol* symbol = param_symbol_find(mod_sources(), text)) return symbol->value;
        doc.fail(node, "unknown modulation source \"" + text + "\" (known: " + param_symbol_list(mod_sources()) + ")");
    }
    uint8_t destination = 0;
    if (mod_destination_find(text, destination)) return destination;
    doc.fail(node, "unknown modulation destination \"" + text + "\" (a patch parameter as group.key, such as "
                   "envelope1.gain or channel.volume, or a number)");
}

std::vector<uint8_t> parse_patch(const Document& doc, const YAML::Node& root)
{
    std::vector<uint8_t> bytes = default_bytes(patch_params(), kPatchHeaderBytes);
    std::vector<uint8_t> entries;
    parse_groups(doc, root, patch_params(), bytes, "modulation",
                 [&](const YAML::Node&, const std::string& name, const YAML::Node& value) {
                     if (name != "modulation") return false;
                     if (value.IsNull()) return true;
                     if (!value.IsSequence())
                         doc.fail(value, "modulation must be a list of {source, amount, destination} entries");
                     if (value.size() > static_cast<size_t>(kMaxModEntries))
                         doc.fail(value, "a patch holds at most 255 modulation entries");
                     for (const YAML::Node& entry : value) {
                         uint8_t fields[3] = {0, 0, 0};
                         bool seen[3] = {false, false, false};
                         doc.each_entry(entry, "a modulation entry",
                                        [&](const YAML::Node& key, const std::string& field, const YAML::Node& v) {
                                            int i = field == "source" ? 0 : field == "amount" ? 1 : field == "destination" ? 2 : -1;
                                            if (i < 0)
                                                doc.fail(key, "unknown key \"" + field +
                                                                  "\" in a modulation entry (it has: source, amount, destination)");
                                            fields[i] = i == 1 ? static_cast<uint8_t>(doc.integer_in(v, 0, kMaxByte, "amount"))
                                                               : mod_field(doc, v, field, i == 0);
                                            seen[i] = true;
                                        });
                         if (!entry.IsMap() || !seen[0] || !seen[1] || !seen[2])
                             doc.fail(entry, "a modulation entry needs source, amount and destination");
                         entries.insert(entries.end(), fields, fields + 3);
                     }
                     return true;
                 });
    bytes[kPatchModCountOffset] = static_cast<uint8_t>(entries.size() / 3);
    bytes.insert(bytes.end(), entries.begin(), entries.end());
    if (bytes[kPatchPolyphonyOffset] == 0) doc.warn(root, "polyphony 0: this patch never sounds a note");
    return bytes;
}

std::vector<uint8_t> parse_globals(const Document& doc, const YAML::Node& root)
{
    std::vector<uint8_t> bytes = default_bytes(global_params(), kGlobalParamCount);
    parse_groups(doc, root, global_params(), bytes, "", [](const YAML::Node&, const std::string&, const YAML::Node&) {
        return false;
    });
    return bytes;
}

void parse_channel(const Document& doc, const YAML::Node& node, int channel, ChannelRoute& route, bool& named_midi)
{
    doc.each_entry(node, "channel " + std::to_string(channel), [&](const YAML::Node& key, const std::string& name,
                                                                  const YAML::Node& value) {
        if (name == "midi_channel") {
            named_midi = true;
            if (value.IsScalar() && value.Scalar() == "none") route.midi_channel = -1;
            else route.midi_channel = static_cast<int>(doc.integer_in(value, 1, 16, "midi_channel")) - 1;
        } else if (name == "transpose") {
            route.transpose = static_cast<int>(doc.integer_in(value, -127, 127, "transpose"));
        } else if (name == "program") {
            route.program = static_cast<int>(doc.integer_in(value, 0, 127, "program"));
        } else if (name == "sustain") {
            const std::string text = doc.scalar(value, "sustain");
            if (text == "on" || text == "true" || text == "yes") route.sustain = true;
            else if (text == "off" || text == "false" || text == "no") route.sustain = false;
            else doc.fail(value, "sustain must be on or off");
        } else if (name == "controllers") {
            doc.each_entry(value, "controllers", [&](const YAML::Node& ckey, const std::string&, const YAML::Node& cvalue) {
                const int k = static_cast<int>(doc.integer_in(ckey, 1, kSongControllers, "a song controller number"));
                if (cvalue.IsScalar() && cvalue.Scalar() == "none") route.controller_source[k - 1] = -1;
                else
                    route.controller_source[k - 1] =
                        static_cast<int>(doc.integer_in(cvalue, 0, 127, "the MIDI controller number"));
            });
        } else {
            doc.fail(key, "unknown channel option \"" + name +
                              "\" (known: midi_channel, transpose, program, controllers, sustain)");
        }
    });
}

void put_group_line(std::string& out, std::span<const ParamInfo> params, const std::vector<uint8_t>& bytes,
                    const char* group, const char* indent)
{
    std::string line = std::string(indent) + group + ": {";
    bool first = true;
    for (const ParamInfo& param : params) {
        if (std::string(group) != param.group) continue;
        if (!first) line += ", ";
        first = false;
        const uint8_t value = bytes[param.index];
        const char* symbol = param_symbol_name(param, value);
        line += std::string(param.name) + ": " + (symbol ? std::string(symbol) : std::to_string(value));
    }
    out += line + "}\n";
}

void put_groups(std::string& out, std::span<const ParamInfo> params, const std::vector<uint8_t>& bytes,
                const char* indent)
{
    std::set<std::string> done;
    for (const ParamInfo& param : params) {
        if (!*param.group) {
            out += std::string(indent) + param.name + ": " + std::to_string(bytes[param.index]) + "\n";
            continue;
        }
        if (!done.insert(param.group).second) continue;
        put_group_line(out, params, bytes, param.group, indent);
    }
}

}  // namespace

std::vector<uint8_t> patch_yaml_parse(const std::string& text, const std::string& path, Warnings& warnings)
{
    const Document doc{path, warnings};
    return parse_patch(doc, load_yaml(text, path));
}

std::vector<uint8_t> globals_yaml_parse(const std::string& text, const std::string& path, Warnings& warnings)
{
    const Document doc{path, warnings};
    return parse_globals(doc, load_yaml(text, path));
}

std::vector<uint8_t> patch_yaml_read(const std::string& path, const FileReader& read, Warnings& warnings)
{
    return patch_yaml_parse(text_of(read(path)), path, warnings);
}

SongDescription song_yaml_read(const std::string& path, const FileReader& read, Warnings& warnings)
{
    SongDescription desc;
    desc.path = path;
    desc.import = midi_import_default_options();
    desc.global_block = default_bytes(global_params(), kGlobalParamCount);
    const std::string directory = path_directory(path);
    const Document doc{path, warnings};
    const YAML::Node root = load_yaml(text_of(read(path)), path);
    if (!root.IsMap()) doc.fail(root, "SONG.yaml must be a mapping (midi:, patches:, ...)");

    std::vector<std::string> patch_files;  // resolved paths of the distinct patches ("" for inline ones)
    std::array<bool, kSongChannels> listed_midi{};
    std::array<bool, kSongChannels> named_midi{};
    bool have_midi = false;
    doc.each_entry(root, "SONG.yaml", [&](const YAML::Node& key, const std::string& name, const YAML::Node& value) {
        if (name == "midi") {
            have_midi = true;
            // yaml-cpp nodes are references: reset() rebinds, = would overwrite.
            YAML::Node file;
            file.reset(value);
            if (value.IsMap()) {
                file.reset(YAML::Node());
                doc.each_entry(value, "midi", [&](const YAML::Node& mkey, const std::string& field, const YAML::Node& v) {
                    if (field == "file") {
                        file.reset(v);
                    } else if (field == "events") {
                        const std::string mode = doc.scalar(v, "events");
                        if (mode == "as_written") desc.import.as_written = true;
                        else if (mode == "tidy") desc.import.as_written = false;
                        else doc.fail(v, "events must be tidy or as_written");
                    } else {
                        doc.fail(mkey, "unknown key \"" + field + "\" in midi (known: file, events)");
                    }
                });
                if (!file.IsDefined() || file.IsNull()) doc.fail(value, "midi needs a file");
            }
            desc.midi_file = path_join(directory, doc.scalar(file, "midi"));
            desc.midi_where = doc.where(file);
        } else if (name == "ticks_per_quarter") {
            desc.import.ticks_per_quarter =
                static_cast<uint32_t>(doc.integer_in(value, 1, kMaxTicksPerQuarter, "ticks_per_quarter"));
        } else if (name == "end_tick") {
            desc.has_end_tick = true;
            desc.end_tick = static_cast<uint32_t>(doc.integer_in(value, 0, 0xFFFFFFFFll, "end_tick"));
        } else if (name == "globals") {
            if (value.IsScalar()) {
                const std::string file = path_join(directory, value.Scalar());
                const Document gdoc{file, warnings};
                desc.global_block = parse_globals(gdoc, load_yaml(text_of(read(file)), file));
            } else {
                desc.global_block = parse_globals(doc, value);
            }
        } else if (name == "patches") {
            doc.each_entry(value, "patches", [&](const YAML::Node& pkey, const std::string&, const YAML::Node& pvalue) {
                const int program = static_cast<int>(doc.integer_in(pkey, 0, 127, "a program number"));
                int index = -1;
                if (pvalue.IsScalar()) {
                    const std::string file = path_join(directory, pvalue.Scalar());
                    for (size_t i = 0; i < patch_files.size(); ++i)
                        if (patch_files[i] == file) index = static_cast<int>(i);
                    if (index < 0) {
                        desc.patches.push_back(patch_yaml_read(file, read, warnings));
                        patch_files.push_back(file);
                        index = static_cast<int>(desc.patches.size() - 1);
                    }
                } else if (pvalue.IsMap() || pvalue.IsNull()) {
                    desc.patches.push_back(parse_patch(doc, pvalue));
                    patch_files.push_back("");
                    index = static_cast<int>(desc.patches.size() - 1);
                } else {
                    doc.fail(pvalue, "a patch is a file name or a mapping of parameter groups");
                }
                desc.programs.push_back({program, index, doc.where(pkey)});
            });
        } else if (name == "speech") {
            desc.has_speech = true;
            desc.speech_where = doc.where(value);
            if (value.IsNull()) return;
            if (!value.IsSequence()) doc.fail(value, "speech must be a list of phonetic texts");
            size_t bytes = 4;
            for (const YAML::Node& item : value) {
                std::string text;
                size_t bad = 0;
                if (!latin1_from_utf8(doc.scalar(item, "a speech text"), text, bad))
                    doc.fail(item, "character " + std::to_string(bad + 1) +
                                       " of this text is not an 8-bit character (U+0001..U+00FF)");
                if (desc.texts.size() == kLastSelectableText + 1)
                    doc.warn(item, "texts from number 63 on cannot be selected (controller 4 selects 0..62)");
                desc.texts.push_back(text);
                bytes += 4 + text.size() + 1;
            }
            if (bytes >= kSpeechBlockLimit)
                doc.fail(value, "the speech texts take " + std::to_string(bytes) + " bytes; the song format allows " +
                                    std::to_string(kSpeechBlockLimit - 1));
        } else if (name == "title") {
            desc.title = doc.scalar(value, "title");
            if (!song_title_valid(desc.title.data(), desc.title.size()))
                doc.fail(value, "the title must be printable text of at most " +
                                    std::to_string(kTrailerTitleBytes - 1) + " bytes (UTF-8)");
        } else if (name == "channels") {
            doc.each_entry(value, "channels", [&](const YAML::Node& ckey, const std::string&, const YAML::Node& cvalue) {
                const int c = static_cast<int>(doc.integer_in(ckey, 0, kSongChannels - 1, "a song channel"));
                bool named = false;
                parse_channel(doc, cvalue, c, desc.import.channels[c], named);
                named_midi[c] = named;
                if (named && desc.import.channels[c].midi_channel >= 0)
                    listed_midi[desc.import.channels[c].midi_channel] = true;
            });
        } else {
            doc.fail(key, "unknown key \"" + name +
                              "\" (known: title, midi, patches, globals, speech, channels, ticks_per_quarter, end_tick)");
        }
    });
    if (!have_midi) doc.fail(root, "SONG.yaml names no MIDI file (midi: song.mid)");
    if (desc.patches.empty()) doc.fail(root, "SONG.yaml names no patches (patches: {0: piano.yaml})");
    // A song channel that does not name its MIDI channel takes the one of its
    // own number, unless another song channel has claimed that one.
    for (int c = 0; c < kSongChannels; ++c) {
        if (named_midi[c]) continue;
        desc.import.channels[c].midi_channel = listed_midi[c] ? -1 : c;
    }
    return desc;
}

std::string yaml_quote(const std::string& bytes)
{
    std::string out = "\"";
    for (char ch : bytes) {
        const auto b = static_cast<uint8_t>(ch);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += ch;
        } else if (b < 0x20 || b > 0x7E) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", b);
            out += escape;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string patch_yaml_write(const std::vector<uint8_t>& patch, const std::string& heading)
{
    std::string out = "# " + heading + "\n";
    put_groups(out, patch_params(), patch, "");
    const int entries = patch[kPatchModCountOffset];
    if (entries == 0) {
        out += "modulation: []\n";
        return out;
    }
    out += "modulation:\n";
    for (int i = 0; i < entries; ++i) {
        const uint8_t* entry = patch.data() + kPatchModOffset + kModEntryBytes * i;
        const char* source = mod_source_name(entry[0]);
        const std::string destination = mod_destination_name(entry[2]);
        out += "  - {source: " + (source ? std::string(source) : std::to_string(entry[0])) +
               ", amount: " + std::to_string(entry[1]) +
               ", destination: " + (destination.empty() ? std::to_string(entry[2]) : destination) + "}\n";
    }
    return out;
}

std::string song_yaml_write(const SongYamlOutput& song)
{
    std::string out = "# A Cantilena song: cantilena-tool compile SONG.yaml -o song.img\n";
    out += "midi: {file: " + yaml_quote(song.midi_file) + ", events: " + (song.as_written ? "as_written" : "tidy") + "}\n";
    if (song.ticks_per_quarter != 0) out += "ticks_per_quarter: " + std::to_string(song.ticks_per_quarter) + "\n";
    if (song.has_end_tick) out += "end_tick: " + std::to_string(song.end_tick) + "\n";
    out += "globals:\n";
    put_groups(out, global_params(), song.global_block, "  ");
    out += "patches:\n";
    for (const auto& [program, file] : song.programs) out += "  " + std::to_string(program) + ": " + yaml_quote(file) + "\n";
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
