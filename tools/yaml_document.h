// One YAML document with the name of its file, so that every message names
// the file, line and column; the checked readers of scalars, numbers and
// mappings that the patch files and SONG.yaml share.
#pragma once

#include <set>
#include <string>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "tools/author_common.h"

struct YamlDocument {
    std::string path;
    Warnings& warnings;

    std::string where(const YAML::Node& node) const;
    [[noreturn]] void fail(const YAML::Node& node, const std::string& what) const;
    void warn(const YAML::Node& node, const std::string& what) const;

    // A value written with a YAML tag ("!hEH_ x" is the tag !hEH_ on "x") is
    // refused rather than read without its tag.
    void refuse_tag(const YAML::Node& node) const;
    std::string scalar(const YAML::Node& node, const std::string& what) const;
    // False when the node is not a plain decimal integer.
    bool integer(const YAML::Node& node, long long& value) const;
    long long integer_in(const YAML::Node& node, long long low, long long high, const std::string& what) const;

    // Visits each key of a mapping, refusing repeated keys.
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

// Parses text; a syntax error becomes an AuthorError naming path, line and column.
YAML::Node yaml_load(const std::string& text, const std::string& path);
std::string yaml_text(const std::vector<uint8_t>& bytes);
// A YAML double-quoted string holding 8-bit text (bytes above 0x7E as \xNN).
std::string yaml_quote(const std::string& bytes);
