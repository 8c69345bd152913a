#include "tools/yaml_document.h"

#include <cstdio>

std::string YamlDocument::where(const YAML::Node& node) const
{
    const YAML::Mark mark = node.Mark();
    if (mark.is_null()) return path;
    return at_line(path, mark.line + 1, mark.column + 1);
}

void YamlDocument::fail(const YAML::Node& node, const std::string& what) const
{
    throw AuthorError(where(node), what);
}

void YamlDocument::warn(const YAML::Node& node, const std::string& what) const
{
    warnings.add(where(node), what);
}

void YamlDocument::refuse_tag(const YAML::Node& node) const
{
    const std::string& tag = node.Tag();
    if (!tag.empty() && tag != "?" && tag != "!")
        fail(node, "the value carries the YAML tag \"" + tag + "\"; write it in double quotes");
}

std::string YamlDocument::scalar(const YAML::Node& node, const std::string& what) const
{
    if (!node.IsScalar()) fail(node, what + " must be a single value");
    refuse_tag(node);
    return node.Scalar();
}

bool YamlDocument::integer(const YAML::Node& node, long long& value) const
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

long long YamlDocument::integer_in(const YAML::Node& node, long long low, long long high, const std::string& what) const
{
    long long value = 0;
    if (!integer(node, value))
        fail(node, what + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    if (value < low || value > high)
        fail(node, what + " is " + std::to_string(value) + "; it must be from " + std::to_string(low) + " to " +
                       std::to_string(high));
    return value;
}

YAML::Node yaml_load(const std::string& text, const std::string& path)
{
    try {
        return YAML::Load(text);
    } catch (const YAML::Exception& e) {
        const std::string where = e.mark.is_null() ? path : at_line(path, e.mark.line + 1, e.mark.column + 1);
        throw AuthorError(where, "not valid YAML: " + e.msg);
    }
}

std::string yaml_text(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
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
