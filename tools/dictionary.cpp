#include "tools/dictionary.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "data/dictionary/english_table.h"
#include "synth/units/numeric.h"

namespace {

constexpr char kMagic[] = "PRON\x01";
constexpr size_t kMagicBytes = 5;
constexpr int kMaxCodeBits = 15;
constexpr int kSymbols = 256;
constexpr unsigned kEndWord = 0;
constexpr unsigned kPrefixBase = 128;
constexpr unsigned kEndVariant = 0;
constexpr unsigned kEndEntry = 1;
constexpr unsigned kPhonemeBase = 2;

// A canonical Huffman code: how many codes of each length, and the symbols
// in code order.
struct Code {
    std::array<uint16_t, kMaxCodeBits + 1> count{};
    std::vector<uint8_t> symbols;
};

// One code per preceding symbol.
using ContextCodes = std::array<Code, kSymbols>;

struct Table {
    const uint8_t* data = nullptr;
    size_t data_size = 0;
    uint32_t entries = 0;
    uint32_t block_size = 0;
    std::vector<uint32_t> block_offsets;
    std::vector<std::string> phonemes;
    ContextCodes word_codes;
    ContextCodes pron_codes;
};

struct Reader {
    const uint8_t* p;
    const uint8_t* end;

    void need(size_t n) const
    {
        if (static_cast<size_t>(end - p) < n) throw std::logic_error("the dictionary table is cut short");
    }
    uint8_t u8()
    {
        need(1);
        return *p++;
    }
    uint32_t u32()
    {
        need(4);
        const uint32_t v = word_from_bytes(p);
        p += 4;
        return v;
    }
};

void read_codes(Reader& in, ContextCodes& codes)
{
    const int contexts = in.u8();
    for (int c = 0; c < contexts; ++c) {
        Code& code = codes[in.u8()];
        const int n = in.u8();
        std::array<std::vector<uint8_t>, kMaxCodeBits + 1> by_length;
        for (int i = 0; i < n; ++i) {
            const uint8_t symbol = in.u8();
            const uint8_t length = in.u8();
            if (length == 0 || length > kMaxCodeBits) throw std::logic_error("a dictionary code length out of range");
            by_length[length].push_back(symbol);
        }
        for (int length = 1; length <= kMaxCodeBits; ++length) {
            code.count[length] = static_cast<uint16_t>(by_length[length].size());
            code.symbols.insert(code.symbols.end(), by_length[length].begin(), by_length[length].end());
        }
    }
}

Table load()
{
    Table table;
    Reader in{kEnglishDictionary, kEnglishDictionaryEnd};
    in.need(kMagicBytes);
    if (std::memcmp(in.p, kMagic, kMagicBytes) != 0) throw std::logic_error("the dictionary table has no magic");
    in.p += kMagicBytes;
    table.entries = in.u32();
    table.block_size = in.u32();
    table.block_offsets.resize(in.u32());
    const int phonemes = in.u8();
    for (int i = 0; i < phonemes; ++i) {
        std::string name;
        for (char c = static_cast<char>(in.u8()); c != '\0'; c = static_cast<char>(in.u8())) name += c;
        table.phonemes.push_back(name);
    }
    read_codes(in, table.word_codes);
    read_codes(in, table.pron_codes);
    for (uint32_t& offset : table.block_offsets) offset = in.u32();
    table.data_size = in.u32();
    in.need(table.data_size);
    table.data = in.p;
    return table;
}

const Table& table()
{
    static const Table loaded = load();
    return loaded;
}

struct BitReader {
    const uint8_t* data;
    size_t size;
    size_t bit;

    unsigned next()
    {
        if (bit >= 8 * size) throw std::logic_error("the dictionary table's data is cut short");
        const unsigned b = (data[bit >> 3] >> (7 - (bit & 7))) & 1u;
        ++bit;
        return b;
    }

    unsigned decode(const Code& code)
    {
        int first = 0;
        int value = 0;
        int index = 0;
        for (int length = 1; length <= kMaxCodeBits; ++length) {
            value |= static_cast<int>(next());
            const int count = code.count[length];
            if (value - first < count) return code.symbols[index + value - first];
            index += count;
            first = (first + count) << 1;
            value <<= 1;
        }
        throw std::logic_error("a code the dictionary table does not hold");
    }
};

// Walks the entries of one block.
struct BlockWalker {
    const Table& table;
    BitReader bits;
    std::string word;

    BlockWalker(const Table& t, size_t block) : table(t), bits{t.data, t.data_size, 8 * size_t{t.block_offsets[block]}}
    {
    }

    void read_word()
    {
        unsigned previous = kEndWord;
        for (;;) {
            const unsigned symbol = bits.decode(table.word_codes[previous]);
            previous = symbol;
            if (symbol == kEndWord) return;
            if (symbol >= kPrefixBase)
                word.resize(std::min<size_t>(word.size(), symbol - kPrefixBase));
            else
                word += static_cast<char>(symbol);
        }
    }

    // Reads the pronunciations, or skips them when out is null.
    void read_pronunciations(std::vector<Pronunciation>* out)
    {
        unsigned previous = kEndEntry;
        if (out) out->emplace_back();
        for (;;) {
            const unsigned symbol = bits.decode(table.pron_codes[previous]);
            previous = symbol;
            if (symbol == kEndEntry) return;
            if (!out) continue;
            if (symbol == kEndVariant)
                out->emplace_back();
            else
                out->back().push_back(table.phonemes.at(symbol - kPhonemeBase));
        }
    }
};

std::string first_word(const Table& t, size_t block)
{
    BlockWalker walker(t, block);
    walker.read_word();
    return walker.word;
}

}  // namespace

std::vector<Pronunciation> dictionary_lookup(const std::string& word)
{
    const Table& t = table();
    // The last block whose first word is not after the word.
    size_t low = 0;
    size_t high = t.block_offsets.size();
    while (high - low > 1) {
        const size_t mid = (low + high) / 2;
        if (first_word(t, mid) <= word)
            low = mid;
        else
            high = mid;
    }
    std::vector<Pronunciation> found;
    BlockWalker walker(t, low);
    const size_t entries = std::min<size_t>(t.block_size, t.entries - low * t.block_size);
    for (size_t i = 0; i < entries; ++i) {
        walker.read_word();
        if (walker.word == word) {
            walker.read_pronunciations(&found);
            return found;
        }
        if (walker.word > word) break;
        walker.read_pronunciations(nullptr);
    }
    return found;
}

size_t dictionary_size()
{
    return table().entries;
}
