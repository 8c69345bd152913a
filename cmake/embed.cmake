# Writes a C++ source holding the bytes of INPUT as a constant array.
# cmake -DINPUT=song.img -DOUTPUT=embedded_song.cpp -DSYMBOL=kEmbeddedSong
#       [-DHEADER=data/embedded_song.h] [-DTITLE_FROM=SONG.yaml | -DTITLE=text] -P embed.cmake
# With a title, also ${SYMBOL}Title: the value of TITLE_FROM's top-level
# "title:" line (plain or double-quoted), else TITLE.
if(NOT DEFINED HEADER)
  set(HEADER data/embedded_song.h)
endif()
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
set(title_definition "")
if(DEFINED TITLE_FROM)
  file(STRINGS "${TITLE_FROM}" title_lines REGEX "^title:")
  list(GET title_lines 0 TITLE)
  string(REGEX REPLACE "^title:[ \t]*" "" TITLE "${TITLE}")
  string(REGEX REPLACE "[ \t]+(#.*)?$" "" TITLE "${TITLE}")
  string(REGEX REPLACE "^\"(.*)\"$" "\\1" TITLE "${TITLE}")
endif()
if(DEFINED TITLE)
  string(REPLACE "\\" "\\\\" TITLE "${TITLE}")
  string(REPLACE "\"" "\\\"" TITLE "${TITLE}")
  set(title_definition "const char ${SYMBOL}Title[] = \"${TITLE}\";\n")
endif()
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.\n"
"#include \"${HEADER}\"\n\n"
"alignas(4) const uint8_t ${SYMBOL}[${size} + 1] = {\n    ${bytes}0x00\n};\n"
"const size_t ${SYMBOL}Size = ${size};\n"
"${title_definition}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
