#include "tools/program_export.h"

#include <lzma.h>

#include "sequencer/song_trailer.h"
#include "tools/author_common.h"

namespace {

constexpr uint32_t kPackPreset = 9 | LZMA_PRESET_EXTREME;

// The stub; @OFFSET@ becomes the byte position (counting from 1) where the
// compressed program begins, right after the stub's last line.
constexpr const char* kStub =
    "#!/bin/sh\n"
    "# A Cantilena song: unpacks the program behind this script with xz and runs it.\n"
    "command -v xz >/dev/null 2>&1 || { echo \"$0: cannot play: xz is missing (Debian: xz-utils)\" >&2; exit 1; }\n"
    "d=$(mktemp -d) || exit 1\n"
    "trap 'rm -rf \"$d\"' EXIT\n"
    "trap : INT TERM HUP QUIT\n"
    "tail -c +@OFFSET@ \"$0\" | xz -dc >\"$d/p\" && chmod 700 \"$d/p\" && \"$d/p\" \"$@\"\n"
    "exit\n";

std::string stub_with_offset()
{
    const std::string stub = kStub;
    const std::string marker = "@OFFSET@";
    const size_t at = stub.find(marker);
    // The offset's digits change the stub's length: settle the two.
    size_t offset = stub.size();
    for (;;) {
        const std::string text = stub.substr(0, at) + std::to_string(offset) + stub.substr(at + marker.size());
        if (text.size() + 1 == offset) return text;
        offset = text.size() + 1;
    }
}

std::vector<uint8_t> compress(const std::vector<uint8_t>& bytes)
{
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, kPackPreset)) throw AuthorError("", "xz compression is not available");
    // The x86 branch filter makes the program's calls compress better.
    lzma_filter filters[] = {{LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::vector<uint8_t> out(lzma_stream_buffer_bound(bytes.size()));
    size_t used = 0;
    const lzma_ret result = lzma_stream_buffer_encode(filters, LZMA_CHECK_CRC32, nullptr, bytes.data(), bytes.size(),
                                                      out.data(), &used, out.size());
    if (result != LZMA_OK)
        throw AuthorError("", "xz compression failed (liblzma error " + std::to_string(result) + ")");
    out.resize(used);
    return out;
}

}  // namespace

std::vector<uint8_t> program_compose(const std::vector<uint8_t>& player, const std::vector<uint8_t>& image,
                                     const std::string& title, uint32_t end_frames)
{
    std::vector<uint8_t> program = player;
    program.resize(player.size() + song_appended_bound(image.size()));
    const size_t appended =
        song_appended_write(program.data() + player.size(), image.data(), static_cast<uint32_t>(image.size()),
                            title.data(), title.size(), end_frames);
    program.resize(player.size() + appended);
    return program;
}

std::vector<uint8_t> program_pack(const std::vector<uint8_t>& program)
{
    const std::string stub = stub_with_offset();
    std::vector<uint8_t> packed(stub.begin(), stub.end());
    const std::vector<uint8_t> compressed = compress(program);
    packed.insert(packed.end(), compressed.begin(), compressed.end());
    return packed;
}

std::string program_title_from_file_name(const std::string& path)
{
    std::string name = path.substr(path.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    size_t length = name.size() < kTrailerTitleBytes - 1 ? name.size() : kTrailerTitleBytes - 1;
    while (length > 0 && (static_cast<uint8_t>(name[length]) & 0xC0) == 0x80) --length;
    name.resize(length);
    return song_title_valid(name.data(), name.size()) ? name : "";
}
