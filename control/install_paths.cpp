// Path rules of the service's installed copy. The service runs as LocalSystem, so the file
// it runs must sit where only administrators can write: a folder of its own in Program Files.
#include "control/registration.h"

#include "shared/wide_text.h"

namespace {

const wchar_t kFolderName[] = L"\\Quellcore";
const wchar_t kFileName[] = L"\\quellcore.exe";
const wchar_t kStagingSuffix[] = L".new";
const wchar_t kAsideSuffix[] = L".old";

// Writes the first `length` characters of `head` and then `tail`; -1 when they do not fit.
int join(wchar_t* out, const wchar_t* head, uint32_t length, const wchar_t* tail) {
  if (length + text_length(tail) + 1 > kExecutablePathCapacity) return -1;
  copy_text(out, kExecutablePathCapacity, head, length);
  copy_text(out + length, kExecutablePathCapacity - length, tail);
  return 0;
}

int is_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

int find_install_paths(const wchar_t* program_files, InstallPaths* out) {
  // Only "X:\..." names a place on this machine; a relative or network path does not.
  if (!is_letter(program_files[0]) || program_files[1] != L':' || program_files[2] != L'\\') {
    return -1;
  }
  uint32_t length = text_length(program_files);
  for (uint32_t i = 0; i < length; ++i) {
    if (program_files[i] == L'"') return -1;  // would break the quoted command line
  }
  // The names below bring their own backslash, so "X:\" and "X:\Programs\" lose theirs.
  while (length > 2 && program_files[length - 1] == L'\\') --length;
  InstallPaths paths;
  if (join(paths.folder, program_files, length, kFolderName) != 0 ||
      join(paths.target, paths.folder, text_length(paths.folder), kFileName) != 0 ||
      join(paths.staging, paths.target, text_length(paths.target), kStagingSuffix) != 0 ||
      join(paths.aside, paths.target, text_length(paths.target), kAsideSuffix) != 0) {
    return -1;
  }
  *out = paths;
  return 0;
}

int find_install_paths_of_image(const wchar_t* image, InstallPaths* out) {
  const uint32_t length = text_length(image);
  const uint32_t tail = text_length(kFolderName) + text_length(kFileName);
  if (length <= tail || length >= kExecutablePathCapacity) return -1;
  wchar_t expected_tail[kExecutablePathCapacity];
  if (join(expected_tail, kFolderName, text_length(kFolderName), kFileName) != 0 ||
      !same_path(image + length - tail, expected_tail)) {
    return -1;
  }
  wchar_t program_files[kExecutablePathCapacity];
  copy_text(program_files, kExecutablePathCapacity, image, length - tail);
  return find_install_paths(program_files, out);
}

int image_of_command_line(const wchar_t* command_line, wchar_t* out, uint32_t capacity) {
  uint32_t length = text_length(command_line);
  const wchar_t* from = command_line;
  if (length >= 2 && from[0] == L'"' && from[length - 1] == L'"') {
    ++from;
    length -= 2;
  }
  if (length == 0 || length >= capacity) return -1;
  for (uint32_t i = 0; i < length; ++i) {
    if (from[i] == L'"') return -1;
  }
  copy_text(out, capacity, from, length);
  return 0;
}

bool same_path(const wchar_t* a, const wchar_t* b) { return same_text_ignoring_case(a, b); }

bool command_line_needs_quotes(const wchar_t* command_line, const wchar_t* path) {
  if (!same_path(command_line, path)) return false;
  for (uint32_t i = 0; path[i] != L'\0'; ++i) {
    if (path[i] == L' ') return true;
  }
  return false;
}
