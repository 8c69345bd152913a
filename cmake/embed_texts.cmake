# Writes a C++ source holding every *.yaml file of DIRECTORY as text, in name
# order: cmake -DDIRECTORY=data/bank -DOUTPUT=bank.cpp -DSYMBOL=kStarterBankSources -P embed_texts.cmake
set(delimiter "cantilena_text")
file(GLOB files "${DIRECTORY}/*.yaml")
list(SORT files)
set(entries "")
list(LENGTH files count)
foreach(file ${files})
  get_filename_component(name "${file}" NAME)
  file(READ "${file}" text)
  string(FIND "${text}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds the text that ends the embedded string")
  endif()
  string(APPEND entries "    {\"${name}\", R\"${delimiter}(${text})${delimiter}\"},\n")
endforeach()
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${DIRECTORY}; do not edit.\n"
"#include \"data/embedded_texts.h\"\n\n"
"const EmbeddedText ${SYMBOL}[] = {\n${entries}};\n"
"const size_t ${SYMBOL}Count = ${count};\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
