#include "monitor/help.h"
#include "monitor/help_path.h"
#include "monitor/help_win32.h"
#include "monitor/resource.h"

namespace {
constexpr wchar_t kTempFilePrefix[] = L"NEW";
constexpr UINT kSystemPicksUniqueName = 0;  // also makes the system create the .tmp file
constexpr wchar_t kChmExtension[] = L"chm";
constexpr int kExtensionCopyLimit = 4;      // three letters and the terminator
constexpr UINT kHelpDisplayToc = 1;         // HH_DISPLAY_TOC
constexpr DWORD_PTR kNoHelpData = 0;
constexpr WORD kHtmlHelpWOrdinal = 15;
constexpr wchar_t kHelpControlLibrary[] = L"hhctrl.ocx";
constexpr wchar_t kHelpControlPath[] = L"\\hhctrl.ocx";
}  // namespace

static_assert(kHelpPathCapacity == MAX_PATH, "GetTempFileNameW needs MAX_PATH characters");

HtmlHelpLoader g_html_help = {HELP_CONTROL_UNTRIED, nullptr, nullptr, 0};

namespace {

// The control from the system folder and nowhere else: found by name, the search would
// start in the executable's own folder, where a downloaded copy may have company; and a
// class registration may name any file, even one of the user's own registrations.
HMODULE load_system_help_control() {
  HMODULE library = LoadLibraryExW(kHelpControlLibrary, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return library;
  // Older systems refuse the search flag; the full path names the same file there.
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  const UINT name_length = sizeof(kHelpControlPath) / sizeof(wchar_t);
  if (length == 0 || length + name_length > MAX_PATH) return nullptr;
  lstrcatW(path, kHelpControlPath);
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void load_help_control() {
  ++g_html_help.load_attempts;
  HMODULE library = load_system_help_control();
  FARPROC entry =
      library != nullptr ? GetProcAddress(library, MAKEINTRESOURCEA(kHtmlHelpWOrdinal)) : nullptr;
  g_html_help.state = help_control_state_after_load(library != nullptr, entry != nullptr);
  if (g_html_help.state != HELP_CONTROL_LOADED) {
    if (library != nullptr) FreeLibrary(library);
    return;
  }
  g_html_help.library = library;
  // Through the generic function type, which converts to any other without a warning.
  g_html_help.entry = reinterpret_cast<HtmlHelpEntry>(reinterpret_cast<void (*)(void)>(entry));
}

}  // namespace

HWND html_help(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data) {
  if (help_control_should_load(g_html_help.state)) load_help_control();
  if (g_html_help.state != HELP_CONTROL_LOADED) return nullptr;
  return g_html_help.entry(caller, file, command, data);
}

void show_help_file(HWND owner) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDR_HELP_FILE), RT_RCDATA);
  if (found == nullptr) return;
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return;
  const void* bytes = LockResource(loaded);
  const DWORD size = SizeofResource(module, found);
  if (bytes == nullptr || !help_resource_size_usable(size)) return;

  wchar_t folder[kTempPathCapacity] = {};
  if (!temp_path_fits(GetTempPathW(kTempPathCapacity, folder))) return;
  // A folder too long for a file name makes this fail and leave the buffer untouched.
  wchar_t path[kHelpPathCapacity] = {};
  if (GetTempFileNameW(folder, kTempFilePrefix, kSystemPicksUniqueName, path) == 0) return;
  const int extension = chm_extension_index(path, kHelpPathCapacity);
  if (extension < 0) return;
  lstrcpynW(path + extension, kChmExtension, kExtensionCopyLimit);

  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  // A short write would hand the viewer a truncated file.
  if (!WriteFile(file, bytes, size, &written, nullptr) || written != size) {
    CloseHandle(file);
    return;
  }
  if (!CloseHandle(file)) return;
  html_help(owner, path, kHelpDisplayToc, kNoHelpData);
}
