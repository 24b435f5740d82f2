// Wide-character text as the product handles it: bounded, always terminated, and with no
// library beneath it, so one piece serves the host tests and every Win32 layer.
#pragma once

#include <stdint.h>

const uint32_t kWholeText = 0xFFFFFFFFu;

// The characters before the terminator.
uint32_t text_length(const wchar_t* text);
// Copies at most `length` characters of `from`, stopping at its terminator, and never more
// than `capacity` - 1; `out` is always terminated (unless `capacity` is 0). Returns how
// many characters were copied.
uint32_t copy_text(wchar_t* out, uint32_t capacity, const wchar_t* from, uint32_t length = kWholeText);
// Yes when both are the same text, the letters A to Z compared without regard to case, as
// Windows compares file names.
bool same_text_ignoring_case(const wchar_t* a, const wchar_t* b);
