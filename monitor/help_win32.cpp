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
constexpr wchar_t kHelpControlKey[] =
    L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
constexpr wchar_t kHelpControlLibrary[] = L"hhctrl.ocx";
}  // namespace

static_assert(kHelpPathCapacity == MAX_PATH, "GetTempFileNameW needs MAX_PATH characters");

HtmlHelpLoader g_html_help = {HELP_CONTROL_UNTRIED, nullptr, nullptr, 0};

namespace {

// The library named by the control's registration, or nullptr.
HMODULE load_registered_help_control() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kHelpControlKey, 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return nullptr;
  }
  wchar_t value[MAX_PATH] = {};
  DWORD type = 0;
  DWORD bytes = sizeof(value);
  const LONG queried =
      RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
  RegCloseKey(key);
  if (queried != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return nullptr;
  if (terminate_registry_string(value, MAX_PATH, bytes) < 0) return nullptr;
  if (type == REG_SZ) return LoadLibraryW(value);
  wchar_t expanded[MAX_PATH] = {};
  if (!expanded_string_fits(ExpandEnvironmentStringsW(value, expanded, MAX_PATH), MAX_PATH)) {
    return nullptr;
  }
  return LoadLibraryW(expanded);
}

void load_help_control() {
  ++g_html_help.load_attempts;
  HMODULE library = load_registered_help_control();
  if (library == nullptr) library = LoadLibraryW(kHelpControlLibrary);
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
