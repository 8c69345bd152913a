// Parameter blocks as YAML: the patch files (parameter groups and a
// modulation list) and the global block (the form of SONG.yaml's globals:),
// read with the authoring table's names and written back by decompile.
// Every error names the file, line and column.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/author_common.h"
#include "tools/yaml_document.h"

// A patch file's bytes (kPatchHeaderBytes + 3 N). Throws AuthorError.
std::vector<uint8_t> patch_yaml_read(const std::string& path, const FileReader& read, Warnings& warnings);
std::vector<uint8_t> patch_yaml_parse(const std::string& text, const std::string& path, Warnings& warnings);
std::vector<uint8_t> patch_yaml_from_node(const YamlDocument& doc, const YAML::Node& root);
// Every parameter, grouped, with symbolic names where values have them.
std::string patch_yaml_write(const std::vector<uint8_t>& patch, const std::string& heading);

// The global block's bytes from a globals file or node. Throws AuthorError.
std::vector<uint8_t> globals_yaml_parse(const std::string& text, const std::string& path, Warnings& warnings);
std::vector<uint8_t> globals_yaml_from_node(const YamlDocument& doc, const YAML::Node& root);
// The global block with no key given: every parameter at its default.
std::vector<uint8_t> globals_yaml_defaults();
// The global block's groups, one line each, every line starting with indent.
std::string globals_yaml_write(const std::vector<uint8_t>& block, const char* indent);
