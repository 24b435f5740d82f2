#include "monitor/help.h"
#include "monitor/help_path.h"
#include "monitor/help_win32.h"
#include "monitor/resource.h"
#include "winapi/dyn_calls_win32.h"

namespace {
constexpr wchar_t kTempFilePrefix[] = L"NEW";
constexpr UINT kSystemPicksUniqueName = 0;  // also makes the system create the .tmp file
constexpr wchar_t kChmExtension[] = L"chm";
constexpr int kExtensionCopyLimit = 4;      // three letters and the terminator
constexpr UINT kHelpDisplayToc = 1;         // HH_DISPLAY_TOC
constexpr DWORD_PTR kNoHelpData = 0;
constexpr UINT kHelpCloseAll = 0x12;       // HH_CLOSE_ALL
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
  const HtmlHelpWFn entry = dyn_calls_take_help_control(library);
  g_html_help.state = help_control_state_after_load(library != nullptr, entry != nullptr);
  if (g_html_help.state != HELP_CONTROL_LOADED) {
    if (library != nullptr) FreeLibrary(library);
    return;
  }
  g_html_help.library = library;
  g_html_help.entry = entry;
}

}  // namespace

HWND html_help(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data) {
  if (help_control_should_load(g_html_help.state)) load_help_control();
  if (g_html_help.state != HELP_CONTROL_LOADED) return nullptr;
  return g_html_help.entry(caller, file, command, data);
}

namespace {

// Writes the embedded help to a new temporary .chm; 0 with its path in `path`.
int write_help_file(wchar_t* path) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDR_HELP_FILE), RT_RCDATA);
  if (found == nullptr) return -1;
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return -1;
  const void* bytes = LockResource(loaded);
  const DWORD size = SizeofResource(module, found);
  if (bytes == nullptr || !help_resource_size_usable(size)) return -1;

  wchar_t folder[kTempPathCapacity] = {};
  if (!temp_path_fits(GetTempPathW(kTempPathCapacity, folder))) return -1;
  // A folder too long for a file name makes this fail and leave the buffer untouched.
  wchar_t reserved[kHelpPathCapacity] = {};
  if (GetTempFileNameW(folder, kTempFilePrefix, kSystemPicksUniqueName, reserved) == 0) return -1;
  lstrcpynW(path, reserved, kHelpPathCapacity);
  const int extension = chm_extension_index(path, kHelpPathCapacity);
  // The empty file that reserved the name has done its work.
  DeleteFileW(reserved);
  if (extension < 0) return -1;
  lstrcpynW(path + extension, kChmExtension, kExtensionCopyLimit);

  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  DWORD written = 0;
  // A short write would hand the viewer a truncated file.
  const BOOL whole = WriteFile(file, bytes, size, &written, nullptr) && written == size;
  if (!CloseHandle(file) || !whole) {
    DeleteFileW(path);
    return -1;
  }
  return 0;
}

// The one copy of the help this process wrote, shown again by every later Help command.
wchar_t g_help_file[kHelpPathCapacity] = {};

}  // namespace

void show_help_file(HWND owner) {
  if (g_help_file[0] == L'\0' && write_help_file(g_help_file) != 0) {
    g_help_file[0] = L'\0';
    return;
  }
  html_help(owner, g_help_file, kHelpDisplayToc, kNoHelpData);
}

void remove_help_file() {
  if (g_help_file[0] == L'\0') return;
  // The viewer keeps the file open while it shows it.
  if (g_html_help.state == HELP_CONTROL_LOADED) html_help(nullptr, nullptr, kHelpCloseAll, kNoHelpData);
  DeleteFileW(g_help_file);
  g_help_file[0] = L'\0';
}
