// Puts a file's bytes into the program with the assembler's .incbin, between the symbols
// <symbol>_begin and <symbol>_end; `path` is a string literal naming the file at build time.
#pragma once

#include <cstddef>

// NOLINTBEGIN
// Windows' object format (COFF) names the read-only data section .rdata and has no section stack.
#ifdef _WIN32
#define VELDMOOR_EMBED_SECTION ".section .rdata,\"dr\"\n"
#define VELDMOOR_EMBED_SECTION_END ".text\n"
#else
#define VELDMOOR_EMBED_SECTION ".section .rodata\n"
#define VELDMOOR_EMBED_SECTION_END ".previous\n"
#endif
#define VELDMOOR_EMBED_FILE(symbol, path)                                          \
    asm(VELDMOOR_EMBED_SECTION                                                     \
        ".balign 16\n"                                                             \
        ".global " #symbol "_begin\n" #symbol                                      \
        "_begin:\n"                                                                \
        ".incbin \"" path                                                          \
        "\"\n"                                                                     \
        ".global " #symbol "_end\n" #symbol "_end:\n" VELDMOOR_EMBED_SECTION_END); \
    extern "C" const std::byte symbol##_begin[];                                   \
    extern "C" const std::byte symbol##_end[];
// NOLINTEND
