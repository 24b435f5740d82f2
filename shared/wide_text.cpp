// Bounded wide-character text.
#include "shared/wide_text.h"

namespace {

wchar_t fold_case(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c; }

}  // namespace

uint32_t text_length(const wchar_t* text) {
  uint32_t length = 0;
  while (text[length] != L'\0') ++length;
  return length;
}

uint32_t copy_text(wchar_t* out, uint32_t capacity, const wchar_t* from, uint32_t length) {
  if (capacity == 0) return 0;
  uint32_t copied = 0;
  while (copied + 1 < capacity && copied < length && from[copied] != L'\0') {
    out[copied] = from[copied];
    ++copied;
  }
  out[copied] = L'\0';
  return copied;
}

bool same_text_ignoring_case(const wchar_t* a, const wchar_t* b) {
  uint32_t i = 0;
  while (a[i] != L'\0' && fold_case(a[i]) == fold_case(b[i])) ++i;
  return fold_case(a[i]) == fold_case(b[i]);
}
