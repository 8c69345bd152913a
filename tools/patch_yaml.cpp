#include "tools/patch_yaml.h"

#include <set>

#include "synth/param_layout.h"
#include "tools/patch_params.h"

namespace {

constexpr int kMaxByte = 255;
constexpr int kParamScaleTop = 128;
constexpr int kMaxModEntries = 255;

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

uint8_t param_value(const YamlDocument& doc, const YAML::Node& node, const ParamInfo& param, const std::string& label)
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

// "group: {key: value, ...}": the parameters of one group.
void read_group(const YamlDocument& doc, std::span<const ParamInfo> params, const std::string& group,
                const YAML::Node& value, std::vector<uint8_t>& bytes)
{
    doc.each_entry(value, "group \"" + group + "\"",
                   [&](const YAML::Node& key, const std::string& name, const YAML::Node& number) {
                       for (const ParamInfo& param : params) {
                           if (group == param.group && name == param.name) {
                               bytes[param.index] = param_value(doc, number, param, group + "." + name);
                               return;
                           }
                       }
                       doc.fail(key, "unknown parameter \"" + name + "\" in group \"" + group +
                                         "\" (it has: " + key_list(params, group) + ")");
                   });
}

// Reads a table's groups and top-level parameters into bytes; any other key
// goes to other_key, which returns false for one it does not know either.
template <typename Other>
void read_groups(const YamlDocument& doc, const YAML::Node& root, std::span<const ParamInfo> params,
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
            read_group(doc, params, name, value, bytes);
        } else if (!other_key(key, name, value)) {
            doc.fail(key, "unknown key \"" + name + "\" (known: " + group_list(params, extra_keys) + ")");
        }
    });
}

std::vector<uint8_t> default_bytes(std::span<const ParamInfo> params, size_t size)
{
    std::vector<uint8_t> bytes(size, 0);
    for (const ParamInfo& param : params) bytes[param.index] = param.fallback;
    return bytes;
}

uint8_t mod_field(const YamlDocument& doc, const YAML::Node& node, const std::string& what, bool is_source)
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
    doc.fail(node, "unknown modulation destination \"" + text +
                       "\" (a patch parameter as group.key, such as envelope1.gain or channel.volume, or a number)");
}

// {source, amount, destination}: one modulation entry's three bytes.
void read_mod_entry(const YamlDocument& doc, const YAML::Node& entry, std::vector<uint8_t>& entries)
{
    enum Field { kSource, kAmount, kDestination, kFieldCount };
    uint8_t fields[kFieldCount] = {};
    bool seen[kFieldCount] = {};
    doc.each_entry(entry, "a modulation entry",
                   [&](const YAML::Node& key, const std::string& name, const YAML::Node& v) {
                       const int i = name == "source"        ? kSource
                                     : name == "amount"      ? kAmount
                                     : name == "destination" ? kDestination
                                                             : -1;
                       if (i < 0)
                           doc.fail(key, "unknown key \"" + name +
                                             "\" in a modulation entry (it has: source, amount, destination)");
                       fields[i] = i == kAmount ? static_cast<uint8_t>(doc.integer_in(v, 0, kMaxByte, "amount"))
                                                : mod_field(doc, v, name, i == kSource);
                       seen[i] = true;
                   });
    if (!entry.IsMap() || !seen[kSource] || !seen[kAmount] || !seen[kDestination])
        doc.fail(entry, "a modulation entry needs source, amount and destination");
    entries.insert(entries.end(), fields, fields + kFieldCount);
}

void read_modulation(const YamlDocument& doc, const YAML::Node& list, std::vector<uint8_t>& entries)
{
    if (list.IsNull()) return;
    if (!list.IsSequence()) doc.fail(list, "modulation must be a list of {source, amount, destination} entries");
    if (list.size() > static_cast<size_t>(kMaxModEntries))
        doc.fail(list, "a patch holds at most 255 modulation entries");
    for (const YAML::Node& entry : list) read_mod_entry(doc, entry, entries);
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

std::vector<uint8_t> patch_yaml_from_node(const YamlDocument& doc, const YAML::Node& root)
{
    std::vector<uint8_t> bytes = default_bytes(patch_params(), kPatchHeaderBytes);
    std::vector<uint8_t> entries;
    read_groups(doc, root, patch_params(), bytes, "modulation",
                [&](const YAML::Node&, const std::string& name, const YAML::Node& value) {
                    if (name != "modulation") return false;
                    read_modulation(doc, value, entries);
                    return true;
                });
    bytes[kPatchModCountOffset] = static_cast<uint8_t>(entries.size() / kModEntryBytes);
    bytes.insert(bytes.end(), entries.begin(), entries.end());
    if (bytes[kPatchPolyphonyOffset] == 0) doc.warn(root, "polyphony 0: this patch never sounds a note");
    return bytes;
}

std::vector<uint8_t> patch_yaml_parse(const std::string& text, const std::string& path, Warnings& warnings)
{
    return patch_yaml_from_node(YamlDocument{path, warnings}, yaml_load(text, path));
}

std::vector<uint8_t> patch_yaml_read(const std::string& path, const FileReader& read, Warnings& warnings)
{
    return patch_yaml_parse(yaml_text(read(path)), path, warnings);
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

std::vector<uint8_t> globals_yaml_defaults()
{
    return default_bytes(global_params(), kGlobalParamCount);
}

std::vector<uint8_t> globals_yaml_from_node(const YamlDocument& doc, const YAML::Node& root)
{
    std::vector<uint8_t> bytes = globals_yaml_defaults();
    read_groups(doc, root, global_params(), bytes, "",
                [](const YAML::Node&, const std::string&, const YAML::Node&) { return false; });
    return bytes;
}

std::vector<uint8_t> globals_yaml_parse(const std::string& text, const std::string& path, Warnings& warnings)
{
    return globals_yaml_from_node(YamlDocument{path, warnings}, yaml_load(text, path));
}

std::string globals_yaml_write(const std::vector<uint8_t>& block, const char* indent)
{
    std::string out;
    put_groups(out, global_params(), block, indent);
    return out;
}
