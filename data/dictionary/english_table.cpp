// Links the table's bytes in without turning them into source text first.
#include "data/dictionary/english_table.h"

asm(".section .rodata\n"
    ".balign 4\n"
    ".global kEnglishDictionary\n"
    "kEnglishDictionary:\n"
    ".incbin \"" CANTILENA_DICTIONARY_FILE
    "\"\n"
    ".global kEnglishDictionaryEnd\n"
    "kEnglishDictionaryEnd:\n"
    ".previous\n");
