#pragma once

// Included by the one source of a test program with its own main. Leaks inside Qt, X11, Wayland and
// fontconfig are theirs (one-time caches kept until exit); ours are never suppressed.
extern "C" const char* __lsan_default_options()
{
    return "suppressions=" PARLINO_SOURCE_DIR "/tests/lsan-qt.supp:print_suppressions=0";
}
