// The folder rule for the system's own programs. Pure text work, so the host tests can
// try every path that matters, and the Win32 layer only supplies the two paths.
#include "engine/system_image.h"

namespace {

// What Windows puts before a path that skips its normal parsing.
const wchar_t kVerbatimPrefix[] = L"\\\\?\\";
const int32_t kVerbatimPrefixLength = 4;

// Folders whose direct files are the system's.
const wchar_t* const kDirectFolders[] = {L"System32", L"SysWOW64"};

// Trees that only the system's installer writes, each named by its components below the
// Windows folder: every file anywhere under them is the system's (the store of components
// and its servicing, driver packages, the .NET runtimes, update and Settings programs).
const int kTreeDepthCapacity = 3;
struct Tree {
  const wchar_t* components[kTreeDepthCapacity];
};
const Tree kSystemTrees[] = {
    {{L"SystemApps"}},
    {{L"WinSxS"}},
    {{L"servicing"}},
    {{L"System32", L"DriverStore", L"FileRepository"}},
    {{L"Microsoft.NET", L"Framework"}},
    {{L"Microsoft.NET", L"Framework64"}},
    {{L"UUS"}},
    {{L"ImmersiveControlPanel"}},
};
// Folders inside those trees that users, tasks or web applications may write: nothing in
// them is trusted, at any depth.
const wchar_t* const kWritableFolders[] = {L"Temp", L"Tasks", L"Temporary ASP.NET Files"};

// They come with the system but run whatever a user or a vendor hands them: a batch loop,
// a script, a library's export, a COM server, an installer's custom actions, a help file's
// scripts. Their work is that program's.
const wchar_t* const kHostsOfUserCode[] = {L"cmd.exe",      L"rundll32.exe", L"cscript.exe", L"wscript.exe",
                                           L"mshta.exe",    L"dllhost.exe",  L"regsvr32.exe", L"msiexec.exe",
                                           L"hh.exe"};

// One piece of a path, not its own string.
struct Text {
  const wchar_t* at;
  int32_t length;
};

wchar_t fold(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// Only ASCII letters are folded: a name that differs elsewhere is not trusted, which at
// worst lets the throttle hold a program it could have spared.
int same_text(Text a, const wchar_t* b) {
  int32_t i = 0;
  for (; i < a.length && b[i] != L'\0'; ++i) {
    if (fold(a.at[i]) != fold(b[i])) return 0;
  }
  return i == a.length && b[i] == L'\0';
}

int is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

Text without_prefix(Text path) {
  if (path.length >= kVerbatimPrefixLength) {
    const Text head = {path.at, kVerbatimPrefixLength};
    if (same_text(head, kVerbatimPrefix)) return {path.at + kVerbatimPrefixLength, path.length - kVerbatimPrefixLength};
  }
  return path;
}

// The folder's own text, a trailing separator dropped; 0 when it matches the start of
// `image` and a separator follows it there.
int folder_starts(Text image, Text folder, Text* rest) {
  while (folder.length > 0 && is_separator(folder.at[folder.length - 1])) --folder.length;
  if (folder.length == 0 || image.length <= folder.length || !is_separator(image.at[folder.length])) return -1;
  for (int32_t i = 0; i < folder.length; ++i) {
    const wchar_t a = image.at[i], b = folder.at[i];
    if (fold(a) != fold(b) && !(is_separator(a) && is_separator(b))) return -1;
  }
  *rest = {image.at + folder.length + 1, image.length - folder.length - 1};
  return 0;
}

// A component that could lead anywhere else than where it seems: "." and ".." move in
// the tree, an empty one is a doubled separator, and a colon names a stream, which can
// hang off a folder users may write ("Temp:x.exe" reads like a file directly inside).
int is_plain_component(Text part) {
  if (part.length == 0) return 0;
  if (same_text(part, L".") || same_text(part, L"..")) return 0;
  for (int32_t i = 0; i < part.length; ++i) {
    if (part.at[i] == L':') return 0;
  }
  return 1;
}

}  // namespace

int is_system_image(const wchar_t* image, int32_t image_length, const wchar_t* windows_folder,
                    int32_t folder_length) {
  if (image == nullptr || windows_folder == nullptr || image_length <= 0 || folder_length <= 0) return 0;
  Text rest;
  if (folder_starts(without_prefix({image, image_length}), without_prefix({windows_folder, folder_length}), &rest) !=
      0) {
    return 0;
  }
  // The components below the Windows folder: the first few folders and the file's name.
  Text leading[kTreeDepthCapacity] = {};
  Text name = {rest.at, 0};
  int32_t components = 0;
  int32_t start = 0;
  bool writable = false;
  for (int32_t i = 0; i <= rest.length; ++i) {
    if (i < rest.length && !is_separator(rest.at[i])) continue;
    const Text part = {rest.at + start, i - start};
    if (!is_plain_component(part)) return 0;
    if (components < kTreeDepthCapacity) leading[components] = part;
    // Only a folder counts: a file of such a name is the name checked below.
    if (i < rest.length) {
      for (const wchar_t* folder : kWritableFolders) writable = writable || same_text(part, folder);
    }
    name = part;
    ++components;
    start = i + 1;
  }
  for (const wchar_t* host : kHostsOfUserCode) {
    if (same_text(name, host)) return 0;
  }
  if (components == 1) return 1;
  if (components == 2) {
    for (const wchar_t* folder : kDirectFolders) {
      if (same_text(leading[0], folder)) return 1;
    }
  }
  if (writable) return 0;
  for (const Tree& tree : kSystemTrees) {
    int32_t depth = 0;
    while (depth < kTreeDepthCapacity && tree.components[depth] != nullptr &&
           same_text(leading[depth], tree.components[depth])) {
      ++depth;
    }
    // The whole tree named, and a file below it.
    const bool whole = depth == kTreeDepthCapacity || tree.components[depth] == nullptr;
    if (whole && components > depth) return 1;
  }
  return 0;
}
