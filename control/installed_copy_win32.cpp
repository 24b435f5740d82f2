// The installed copy's files, versions, Start-menu shortcut and start, over Win32.
#include <windows.h>
#include <exdisp.h>
#include <objbase.h>
#include <oleauto.h>
#include <shldisp.h>
#include <shlobj.h>
#include <string.h>

#include "control/installed_copy.h"
#include "control/registration.h"
#include "control/scm.h"

namespace {

const wchar_t kShortcutName[] = L"\\Quellcore.lnk";
// The shell's link object, which writes .lnk files; spelled out so no import library of
// GUIDs is needed.
const CLSID kShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// The root of a version resource: three words, this key with its terminator, padding to
// a four-byte boundary, then the fixed file information.
const wchar_t kVersionKey[] = L"VS_VERSION_INFO";
const DWORD kVersionKeyOffset = 3 * sizeof(WORD);
const DWORD kFixedInfoOffset = (kVersionKeyOffset + sizeof(kVersionKey) + 3) & ~3u;
const DWORD kFixedInfoSignature = 0xFEEF04BD;
const DWORD kVersionResourceId = 1;
// The shell's list of its windows, and the service that finds a shell window's browser.
const CLSID kShellWindowsClass = {0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
const GUID kTopLevelBrowserService = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};

// Releases the COM object it holds on every path out of a scope.
template <typename T>
struct ComHolder {
  T* object = nullptr;
  ~ComHolder() {
    if (object != nullptr) object->Release();
  }
};

// Whether this process runs with an administrator's full token.
bool runs_elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
  CloseHandle(token);
  return known && elevation.TokenIsElevated != 0;
}

// Has the desktop's shell start the file, as Windows' own installers do at their end: the
// shell runs as the signed-in user without an administrator's token, so the program does
// too. 0 once the shell took the request.
int start_through_shell(const wchar_t* file, const wchar_t* folder) {
  ComHolder<IShellWindows> windows;
  ComHolder<IDispatch> desktop;
  ComHolder<IServiceProvider> provider;
  ComHolder<IShellBrowser> browser;
  ComHolder<IShellView> view;
  ComHolder<IDispatch> background;
  ComHolder<IShellFolderViewDual> folder_view;
  ComHolder<IDispatch> application;
  ComHolder<IShellDispatch2> shell;
  VARIANT location;
  VariantInit(&location);
  location.vt = VT_I4;
  location.lVal = CSIDL_DESKTOP;
  VARIANT none;
  VariantInit(&none);
  long desktop_window = 0;
  if (FAILED(CoCreateInstance(kShellWindowsClass, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IShellWindows),
                              reinterpret_cast<void**>(&windows.object))) ||
      windows.object->FindWindowSW(&location, &none, SWC_DESKTOP, &desktop_window, SWFO_NEEDDISPATCH,
                                   &desktop.object) != S_OK ||
      desktop.object == nullptr ||
      FAILED(desktop.object->QueryInterface(__uuidof(IServiceProvider), reinterpret_cast<void**>(&provider.object))) ||
      FAILED(provider.object->QueryService(kTopLevelBrowserService, __uuidof(IShellBrowser),
                                           reinterpret_cast<void**>(&browser.object))) ||
      FAILED(browser.object->QueryActiveShellView(&view.object)) ||
      FAILED(view.object->GetItemObject(SVGIO_BACKGROUND, __uuidof(IDispatch),
                                        reinterpret_cast<void**>(&background.object))) ||
      FAILED(background.object->QueryInterface(__uuidof(IShellFolderViewDual),
                                               reinterpret_cast<void**>(&folder_view.object))) ||
      FAILED(folder_view.object->get_Application(&application.object)) ||
      FAILED(application.object->QueryInterface(__uuidof(IShellDispatch2), reinterpret_cast<void**>(&shell.object)))) {
    return -1;
  }
  BSTR path = SysAllocString(file);
  VARIANT directory;
  VariantInit(&directory);
  directory.vt = VT_BSTR;
  directory.bstrVal = SysAllocString(folder);
  VARIANT show;
  VariantInit(&show);
  show.vt = VT_I4;
  show.lVal = SW_SHOWNORMAL;
  // The new window may take the front from this one.
  AllowSetForegroundWindow(ASFW_ANY);
  const bool started = path != nullptr && directory.bstrVal != nullptr &&
                       SUCCEEDED(shell.object->ShellExecute(path, none, directory, none, show));
  SysFreeString(path);
  VariantClear(&directory);
  return started ? 0 : -1;
}

// Read only, and nobody else may write the file while it is open, so what it holds stays
// what was read. Renaming and deleting stay allowed: an update sets the installed file
// aside, or the installer replaces it in use, while any user's window runs it.
FileHandle open_with_no_writers(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// The file version from a version resource's bytes, checked against its size; 0 on success.
int fixed_file_version(const BYTE* block, DWORD size, uint64_t* version) {
  if (size < kFixedInfoOffset + sizeof(VS_FIXEDFILEINFO)) return -1;
  WORD value_length = 0;
  memcpy(&value_length, block + sizeof(WORD), sizeof(value_length));
  if (value_length < sizeof(VS_FIXEDFILEINFO) ||
      memcmp(block + kVersionKeyOffset, kVersionKey, sizeof(kVersionKey)) != 0) {
    return -1;
  }
  VS_FIXEDFILEINFO info;
  memcpy(&info, block + kFixedInfoOffset, sizeof(info));
  if (info.dwSignature != kFixedInfoSignature) return -1;
  *version = static_cast<uint64_t>(info.dwFileVersionMS) << 32 | info.dwFileVersionLS;
  return 0;
}

int module_version(HMODULE module, uint64_t* version) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(kVersionResourceId), RT_VERSION);
  HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  const void* block = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (block == nullptr) return -1;
  return fixed_file_version(static_cast<const BYTE*>(block), SizeofResource(module, found), version);
}

}  // namespace

FileHandle open_own_image() {
  wchar_t path[kExecutablePathCapacity];
  const DWORD length = GetModuleFileNameW(nullptr, path, kExecutablePathCapacity);
  if (length == 0 || length >= kExecutablePathCapacity) return nullptr;
  return open_with_no_writers(path);
}

FileHandle open_file_to_read(const wchar_t* path) { return open_with_no_writers(path); }

FileHandle create_file_to_write(const wchar_t* path) {
  // No security attributes: the file inherits its folder's protection.
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

int32_t read_file_at(FileHandle file, uint64_t offset, uint8_t* buffer, uint32_t capacity) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (ReadFile(static_cast<HANDLE>(file), buffer, capacity, &read, &at)) return static_cast<int32_t>(read);
  return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

int write_file(FileHandle file, const uint8_t* bytes, uint32_t length) {
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(file), bytes, length, &written, nullptr) || written == 0) return -1;
    bytes += written;
    length -= written;
  }
  return 0;
}

void close_file(FileHandle file) { CloseHandle(static_cast<HANDLE>(file)); }

int read_file_version(const wchar_t* path, uint64_t* version) {
  if (path == nullptr) return module_version(nullptr, version);
  // Mapped as resources only: nothing of the file runs.
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) return -1;
  const int result = module_version(module, version);
  FreeLibrary(module);
  return result;
}

namespace {

// "Quellcore.lnk" in a shell folder for every user, to `target`, opened with `show_command`.
int save_shortcut(int shell_folder, const wchar_t* target, const wchar_t* folder, int show_command) {
  wchar_t link[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, shell_folder, nullptr, SHGFP_TYPE_CURRENT, link)) ||
      lstrlenW(link) + lstrlenW(kShortcutName) >= MAX_PATH) {
    return -1;
  }
  lstrcatW(link, kShortcutName);
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int result = -1;
  IShellLinkW* shell_link = nullptr;
  if (SUCCEEDED(CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkW),
                                 reinterpret_cast<void**>(&shell_link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shell_link->SetPath(target)) && SUCCEEDED(shell_link->SetWorkingDirectory(folder)) &&
        SUCCEEDED(shell_link->SetShowCmd(show_command)) &&
        SUCCEEDED(shell_link->QueryInterface(__uuidof(IPersistFile), reinterpret_cast<void**>(&file)))) {
      if (SUCCEEDED(file->Save(link, TRUE))) result = 0;
      file->Release();
    }
    shell_link->Release();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}

}  // namespace

int make_start_menu_shortcut(const wchar_t* target, const wchar_t* folder) {
  return save_shortcut(CSIDL_COMMON_PROGRAMS, target, folder, SW_SHOWNORMAL);
}

// Minimized: the start it makes at every sign-in opens into the notification area. The
// common Startup folder, so Windows' own Startup settings list it and a user can turn it off.
int make_startup_shortcut(const wchar_t* target, const wchar_t* folder) {
  return save_shortcut(CSIDL_COMMON_STARTUP | CSIDL_FLAG_CREATE, target, folder, SW_SHOWMINNOACTIVE);
}

int start_installed_copy(void** process) {
  InstallPaths paths;
  wchar_t command_line[kCommandLineCapacity];
  if (locate_installed_copy(&paths) != 0 ||
      build_service_command_line(paths.target, command_line, kCommandLineCapacity) != 0) {
    return -1;
  }
  if (process != nullptr) *process = nullptr;
  // With an administrator's token, a window started from here would run elevated and keep
  // its help copy where a standard process could swap it: the shell starts it instead.
  if (runs_elevated()) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = start_through_shell(paths.target, paths.folder);
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  // Its own path by name, never searched for; no handles handed down.
  if (!CreateProcessW(paths.target, command_line, nullptr, nullptr, FALSE, 0, nullptr, paths.folder, &startup,
                      &started)) {
    return -1;
  }
  // The user started this process, so its window may come to the front; so may the copy's.
  AllowSetForegroundWindow(started.dwProcessId);
  CloseHandle(started.hThread);
  if (process != nullptr) {
    *process = started.hProcess;
  } else {
    CloseHandle(started.hProcess);
  }
  return 0;
}
