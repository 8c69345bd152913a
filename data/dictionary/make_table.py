#!/usr/bin/env python3
"""Turns the CMU Pronouncing Dictionary into the compact table the tool carries.

    npm pack cmu-pronouncing-dictionary@3.0.0  # in a scratch directory, outside the repository
    tar xzf cmu-pronouncing-dictionary-*.tgz
    data/dictionary/make_table.py package/index.js data/dictionary/english.dict

The table: words in byte order, each stored as the length of the prefix it
shares with the word before and the rest of its letters, followed by its
pronunciations (ARPAbet phonemes with stress digits) in the dictionary's
order. Word symbols and pronunciation symbols are two streams, each coded
with a canonical Huffman code chosen by the symbol before (the stream starts
as if after its end symbol), so the 134,000 entries take about 750 KB. Every 64th entry starts a
block on a byte boundary with its whole word, so that a lookup decodes one
block after a binary search over the blocks.

Layout (integers little-endian):
    "PRON" 1                          magic and version (u8)
    u32 entries, u32 block size, u32 blocks
    u8 phoneme count, the phoneme names, each ending in NUL
    the codes of the word symbols: 0 ends a word, 128 + n is a shared
               prefix of n letters, any other byte is that letter
    the codes of the pronunciation symbols: 0 ends a pronunciation that
               another follows, 1 ends the entry, 2 + i is phoneme i
    (codes: u8 contexts, then for each the symbol before (u8), u8 n and n
    pairs of symbol and code length (u8, u8))
    blocks x u32  byte offset of each block in the data
    u32 data size, the data (codes packed from the most significant bit)
"""
import collections
import heapq
import re
import struct
import sys

BLOCK = 64
MAX_CODE_BITS = 15
END_WORD = 0
PREFIX_BASE = 128
MAX_PREFIX = 120
END_VARIANT = 0
END_ENTRY = 1
PHONEME_BASE = 2


def read_dictionary(path):
    entries = collections.OrderedDict()
    pattern = re.compile(r'^\s*"(.*)": "(.*)",?\s*$')
    for line in open(path, encoding="utf-8"):
        m = pattern.match(line)
        if not m:
            continue
        key, value = m.group(1), m.group(2)
        word = re.sub(r"\(\d+\)$", "", key)
        phones = value.split("#")[0].split()
        if not phones or not word.isascii():
            continue
        entries.setdefault(word, []).append(phones)
    return entries


def code_lengths(freq):
    """Huffman code lengths, flattened until none exceeds MAX_CODE_BITS."""
    weights = dict(freq)
    while True:
        heap = [(w, i, [s]) for i, (s, w) in enumerate(sorted(weights.items()))]
        heapq.heapify(heap)
        lengths = {s: 0 for s in weights}
        if len(heap) == 1:
            lengths[heap[0][2][0]] = 1
            return lengths
        order = len(heap)
        while len(heap) > 1:
            w1, _, a = heapq.heappop(heap)
            w2, _, b = heapq.heappop(heap)
            for s in a + b:
                lengths[s] += 1
            heapq.heappush(heap, (w1 + w2, order, a + b))
            order += 1
        if max(lengths.values()) <= MAX_CODE_BITS:
            return lengths
        floor = sum(weights.values()) >> (MAX_CODE_BITS - 2)
        weights = {s: max(w, floor) for s, w in weights.items()}


def canonical_codes(lengths):
    codes = {}
    code = 0
    previous = 0
    for length, symbol in sorted((l, s) for s, l in lengths.items() if l > 0):
        code <<= length - previous
        codes[symbol] = (code, length)
        code += 1
        previous = length
    return codes


class BitWriter:
    def __init__(self):
        self.bytes = bytearray()
        self.acc = 0
        self.bits = 0

    def put(self, code, length):
        self.acc = (self.acc << length) | code
        self.bits += length
        while self.bits >= 8:
            self.bits -= 8
            self.bytes.append((self.acc >> self.bits) & 0xFF)
        self.acc &= (1 << self.bits) - 1

    def align(self):
        if self.bits:
            self.put(0, 8 - self.bits)


def context_codes(streams, start):
    """A canonical code per preceding symbol."""
    freq = collections.defaultdict(collections.Counter)
    for stream in streams:
        previous = start
        for s in stream:
            freq[previous][s] += 1
            previous = s
    return {c: canonical_codes(code_lengths(f)) for c, f in sorted(freq.items())}


def put_stream(data, codes, symbols, start):
    previous = start
    for s in symbols:
        data.put(*codes[previous][s])
        previous = s


def codes_bytes(codes):
    assert len(codes) < 256 and all(len(t) < 256 for t in codes.values())
    out = bytearray([len(codes)])
    for context, table in codes.items():
        out += bytes([context, len(table)])
        for symbol, (_, length) in sorted(table.items()):
            out += bytes([symbol, length])
    return out


def symbols_of(words, entries, phoneme_index):
    """Word and pronunciation symbols of each entry."""
    previous = ""
    out = []
    for n, word in enumerate(words):
        shared = 0
        if n % BLOCK:
            while shared < min(len(word), len(previous), MAX_PREFIX) and word[shared] == previous[shared]:
                shared += 1
        word_symbols = [PREFIX_BASE + shared] + [ord(c) for c in word[shared:]] + [END_WORD]
        pron_symbols = []
        for i, phones in enumerate(entries[word]):
            if i:
                pron_symbols.append(END_VARIANT)
            pron_symbols += [PHONEME_BASE + phoneme_index[p] for p in phones]
        pron_symbols.append(END_ENTRY)
        out.append((word_symbols, pron_symbols))
        previous = word
    return out


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_table.py index.js english.dict")
    entries = read_dictionary(sys.argv[1])
    words = sorted(entries, key=lambda w: w.encode())
    phonemes = sorted({p for prons in entries.values() for phones in prons for p in phones})
    phoneme_index = {p: i for i, p in enumerate(phonemes)}
    coded = symbols_of(words, entries, phoneme_index)

    word_codes = context_codes([w for w, _ in coded], END_WORD)
    pron_codes = context_codes([p for _, p in coded], END_ENTRY)

    data = BitWriter()
    offsets = []
    for n, (word_symbols, pron_symbols) in enumerate(coded):
        if n % BLOCK == 0:
            data.align()
            offsets.append(len(data.bytes))
        put_stream(data, word_codes, word_symbols, END_WORD)
        put_stream(data, pron_codes, pron_symbols, END_ENTRY)
    data.align()

    out = bytearray(b"PRON\x01")
    out += struct.pack("<III", len(words), BLOCK, len(offsets))
    out.append(len(phonemes))
    for p in phonemes:
        out += p.encode() + b"\0"
    out += codes_bytes(word_codes)
    out += codes_bytes(pron_codes)
    for offset in offsets:
        out += struct.pack("<I", offset)
    out += struct.pack("<I", len(data.bytes))
    out += data.bytes
    with open(sys.argv[2], "wb") as f:
        f.write(out)
    print(f"{len(words)} words, {sum(len(p) for p in entries.values())} pronunciations, "
          f"{len(phonemes)} phonemes: {len(out)} bytes", file=sys.stderr)


if __name__ == "__main__":
    main()
