# Writes a C++ source holding the bytes of INPUT as a constant array.
# cmake -DINPUT=song.img -DOUTPUT=embedded_song.cpp -DSYMBOL=kEmbeddedSong -P embed.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.\n"
"#include \"data/embedded_song.h\"\n\n"
"alignas(4) const uint8_t ${SYMBOL}[${size} + 1] = {\n    ${bytes}0x00\n};\n"
"const size_t ${SYMBOL}Size = ${size};\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
