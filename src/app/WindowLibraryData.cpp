// The window library, built first, in this program's read-only data. TANDOR_WINDOW_LIBRARY is
// its path in the build tree.
asm(".section .rodata.tandor_window_library,\"a\",@progbits\n"
    ".balign 4096\n"
    ".globl tandor_window_library\n"
    "tandor_window_library:\n"
    ".incbin \"" TANDOR_WINDOW_LIBRARY "\"\n"
    ".globl tandor_window_library_end\n"
    "tandor_window_library_end:\n"
    ".previous\n");
