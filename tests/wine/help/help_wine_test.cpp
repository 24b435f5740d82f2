// Runs the Help menu's commands against real files, the real HTML Help control and real
// dialogs. With --no-control the run expects no HTML Help control on the system.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "monitor/help.h"
#include "monitor/help_path.h"
#include "monitor/help_win32.h"
#include "monitor/resource.h"
#include "tests/wine/common/check.h"

namespace {

std::wstring g_base;  // a private folder under the real temporary folder
constexpr UINT kCloseAllHelpWindows = 0x12;  // HH_CLOSE_ALL: reaches the control, shows nothing

std::wstring make_folder(const std::wstring& name) {
  const std::wstring path = g_base + L"\\" + name;
  CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr);
  return path;
}

void use_temp_folder(const std::wstring& folder) {
  SetEnvironmentVariableW(L"TMP", (folder + L"\\").c_str());
  SetEnvironmentVariableW(L"TEMP", (folder + L"\\").c_str());
}

std::vector<std::wstring> files_in(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return names;
}

std::string read_file(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

std::string help_resource() {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_HELP_FILE), RT_RCDATA);
  if (!found) return std::string();
  return std::string(static_cast<const char*>(LockResource(LoadResource(nullptr, found))),
                     SizeofResource(nullptr, found));
}

BOOL CALLBACK close_window(HWND window, LPARAM) {
  SendMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

// Whatever the help viewer opened belongs to this thread; closed as a user closes it, so the
// run can end.
void close_viewer_windows() {
  for (int round = 0; round < 10; ++round) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(20);
  }
  EnumThreadWindows(GetCurrentThreadId(), close_window, 0);
}

void check_loader_reached_the_control() {
  HMODULE control = GetModuleHandleW(L"hhctrl.ocx");
  CHECK(control != nullptr);
  CHECK_EQ(g_html_help.state, HELP_CONTROL_LOADED);
  CHECK_EQ(g_html_help.load_attempts, 1);
  CHECK(g_html_help.library == control);
  CHECK(reinterpret_cast<void*>(g_html_help.entry) ==
        reinterpret_cast<void*>(GetProcAddress(control, "HtmlHelpW")));
}

// Two help commands show one .chm copy of the resource and leave no name-reserving file;
// the monitor's end removes the copy.
void check_help_writes_one_copy(const wchar_t* folder_name, bool control) {
  const std::wstring folder = make_folder(folder_name);
  use_temp_folder(folder);
  const std::string resource = help_resource();
  CHECK(resource.size() > 1024);
  CHECK(resource.compare(0, 4, "ITSF") == 0);
  for (int i = 0; i < 2; ++i) {
    show_help_file(nullptr);
    close_viewer_windows();
  }
  const std::vector<std::wstring> names = files_in(folder);
  CHECK_EQ(names.size(), 1);
  for (const std::wstring& name : names) {
    CHECK(name.compare(0, 3, L"NEW") == 0);
    CHECK(name.size() > 4 && name.substr(name.size() - 4) == L".chm");
    CHECK(read_file(folder + L"\\" + name) == resource);
  }
  if (control) check_loader_reached_the_control();
  remove_help_file();
  CHECK_EQ(files_in(folder).size(), 0);
}

// A temporary folder whose path does not fit the 256-character buffer (with its trailing
// backslash) makes the command do nothing, though the folder exists and is writable.
void check_long_temp_folders_write_nothing() {
  const size_t lengths[] = {kTempPathCapacity + 20, kTempPathCapacity};
  for (size_t length : lengths) {
    const std::wstring name(length - g_base.size() - 1, L'L');
    const std::wstring folder = make_folder(name);
    CHECK_EQ(folder.size(), length);
    use_temp_folder(folder);
    show_help_file(nullptr);
    close_viewer_windows();
    CHECK_EQ(files_in(folder).size(), 0);
  }
}

// Only the system folder's control is loaded: neither a class registration naming another
// copy nor a copy beside the executable (where a download may have company) is taken.
void check_loader_takes_only_the_system_control() {
  const wchar_t* key_name = L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
  wchar_t loaded_from[MAX_PATH], original[MAX_PATH] = {}, own[MAX_PATH];
  // The system folder as the loader names it: the 32-bit one for a 32-bit program on a
  // 64-bit system.
  GetModuleFileNameW(GetModuleHandleW(L"kernel32.dll"), loaded_from, MAX_PATH);
  *wcsrchr(loaded_from, L'\\') = L'\0';
  const std::wstring control = std::wstring(loaded_from) + L"\\hhctrl.ocx";
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring beside(own);
  beside = beside.substr(0, beside.rfind(L'\\')) + L"\\hhctrl.ocx";
  const std::wstring copy = make_folder(L"control") + L"\\help-control-copy.ocx";
  CHECK(CopyFileW(control.c_str(), copy.c_str(), FALSE));
  CHECK(CopyFileW(control.c_str(), beside.c_str(), FALSE));
  HKEY key = nullptr;
  CHECK_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, key_name, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key),
           ERROR_SUCCESS);
  DWORD bytes = sizeof(original);
  RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(original), &bytes);
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(copy.c_str()),
                 static_cast<DWORD>((copy.size() + 1) * sizeof(wchar_t)));
  if (g_html_help.library) FreeLibrary(g_html_help.library);
  g_html_help = HtmlHelpLoader{};
  html_help(nullptr, nullptr, kCloseAllHelpWindows, 0);
  wchar_t loaded[MAX_PATH] = {};
  GetModuleFileNameW(g_html_help.library, loaded, MAX_PATH);
  CHECK_EQ(g_html_help.state, HELP_CONTROL_LOADED);
  CHECK(lstrcmpiW(loaded, control.c_str()) == 0);
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(original),
                 static_cast<DWORD>((wcslen(original) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  DeleteFileW(beside.c_str());
}

WPARAM g_last_command;

LRESULT CALLBACK record_commands(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COMMAND) g_last_command = wparam;
  return DefWindowProcW(window, message, wparam, lparam);
}

// The keys as the message loop sees them: Alt with "?" or "/" arrives as a system character
// with the context bit set and must become command 104 from an accelerator.
void check_keys_give_about(HACCEL table) {
  constexpr LPARAM kAltDown = 1 << 29;
  WNDCLASSW probe_class = {};
  probe_class.lpfnWndProc = record_commands;
  probe_class.hInstance = GetModuleHandleW(nullptr);
  probe_class.lpszClassName = L"QcAcceleratorProbe";
  RegisterClassW(&probe_class);
  HWND probe = CreateWindowExW(0, L"QcAcceleratorProbe", L"", WS_OVERLAPPED, 0, 0, 10, 10,
                               nullptr, nullptr, probe_class.hInstance, nullptr);
  const struct { UINT message; WPARAM character; LPARAM context; bool about; } keys[] = {
      {WM_SYSCHAR, '?', kAltDown | 1, true}, {WM_SYSCHAR, '/', kAltDown | 1, true},
      {WM_CHAR, '/', 1, false}, {WM_CHAR, '?', 1, false}, {WM_SYSCHAR, 'x', kAltDown | 1, false}};
  BYTE state[256] = {};
  for (const auto& key : keys) {
    state[VK_MENU] = (key.context & kAltDown) ? 0x80 : 0;  // some systems read the key state
    SetKeyboardState(state);
    g_last_command = 0;
    MSG message = {probe, key.message, key.character, key.context, 0, {0, 0}};
    CHECK_EQ(TranslateAcceleratorW(probe, table, &message) != 0, key.about);
    CHECK_EQ(g_last_command, key.about ? MAKEWPARAM(IDM_ABOUT, 1) : 0);
  }
  state[VK_MENU] = 0;
  SetKeyboardState(state);
  DestroyWindow(probe);
}

void check_menu_and_keys() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(IDC_QUELLCORE));
  CHECK(menu != nullptr);
  if (!menu) return;
  const struct { int popup, position; UINT id; const wchar_t* text; } items[] = {
      {0, 0, IDM_OPTIONS, L"&Options ..."}, {0, 1, IDM_SPARE_FRONT, L"&Spare the Program in Front"},
      {0, 3, IDM_EXIT, L"E&xit"}, {1, 0, IDM_HELP, L"&Help"}, {1, 1, IDM_ABOUT, L"&About"}};
  wchar_t text[64];
  CHECK_EQ(GetMenuItemCount(menu), 2);
  GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
  CHECK(wcscmp(text, L"&File") == 0);
  GetMenuStringW(menu, 1, text, 64, MF_BYPOSITION);
  CHECK(wcscmp(text, L"&Help") == 0);
  for (const auto& item : items) {
    HMENU popup = GetSubMenu(menu, item.popup);
    CHECK_EQ(GetMenuItemCount(popup), item.popup == 0 ? 4 : 2);
    CHECK_EQ(GetMenuItemID(popup, item.position), item.id);
    GetMenuStringW(popup, item.position, text, 64, MF_BYPOSITION);
    CHECK(wcscmp(text, item.text) == 0);
  }
  // Checked at every start: the resource says so, and nothing is kept between runs.
  CHECK(GetMenuState(GetSubMenu(menu, 0), IDM_SPARE_FRONT, MF_BYCOMMAND) & MF_CHECKED);
  DestroyMenu(menu);

  ACCEL keys[8] = {};
  HACCEL table = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_QUELLCORE));
  CHECK(table != nullptr);
  // Then F1 and the four page keys, which the release checks read.
  CHECK_EQ(CopyAcceleratorTableW(table, keys, 8), 7);
  const WORD characters[] = {'?', '/'};
  for (int i = 0; i < 2; ++i) {
    CHECK_EQ(keys[i].key, characters[i]);
    CHECK_EQ(keys[i].cmd, IDM_ABOUT);
    CHECK_EQ(keys[i].fVirt & (FALT | FVIRTKEY | FCONTROL | FSHIFT), FALT);  // character key
  }
  check_keys_give_about(table);
  const struct { UINT id; const wchar_t* text; } strings[] = {
      {IDS_APP_TITLE, L"Quellcore"}, {IDS_WINDOW_CLASS, L"KESTO"}};
  for (const auto& s : strings) {
    CHECK(LoadStringW(instance, s.id, text, 64) > 0);
    CHECK(wcscmp(text, s.text) == 0);
  }
}

#pragma pack(push, 2)
struct IconGroupEntry { BYTE width, height, colours, reserved; WORD planes, bits; DWORD bytes; WORD id; };
struct IconGroup { WORD reserved, type, count; IconGroupEntry entries[1]; };
#pragma pack(pop)

void check_icons() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  const struct { WORD id; int count; int sizes[3]; } groups[] = {
      {IDI_QUELLCORE, 3, {16, 32, 48}}, {IDI_SMALL, 1, {16}}};
  for (const auto& group : groups) {
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(group.id), RT_GROUP_ICON);
    CHECK(found != nullptr);
    if (!found) continue;
    const IconGroup* icons = static_cast<const IconGroup*>(LockResource(LoadResource(instance, found)));
    CHECK_EQ(icons->count, group.count);
    for (int i = 0; i < group.count && i < icons->count; ++i) {
      CHECK_EQ(icons->entries[i].width, group.sizes[i]);
      HICON icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(group.id), IMAGE_ICON,
                                                 group.sizes[i], group.sizes[i], 0));
      CHECK(icon != nullptr);
      if (icon) DestroyIcon(icon);
    }
  }
}

// The template is read back through a live, modeless copy of the box.
void check_about_template() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), RT_DIALOG);
  CHECK(found != nullptr);
  if (!found) return;
  const WORD* header = static_cast<const WORD*>(LockResource(LoadResource(instance, found)));
  CHECK_EQ(header[0], 1);       // extended template
  CHECK_EQ(header[1], 0xFFFF);
  const DWORD style = *reinterpret_cast<const DWORD*>(header + 6);
  const DWORD wanted = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  CHECK_EQ(style & wanted, wanted);

  HWND box = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), nullptr,
                                about_dialog_proc, 0);
  CHECK(box != nullptr);
  if (!box) return;
  wchar_t text[64];
  GetWindowTextW(box, text, 64);
  CHECK(wcscmp(text, L"About Quellcore") == 0);
  RECT expected = {0, 0, 146, 45}, client;
  MapDialogRect(box, &expected);
  GetClientRect(box, &client);
  CHECK_EQ(client.right, expected.right);
  CHECK_EQ(client.bottom, expected.bottom);
  HWND ok = GetDlgItem(box, IDOK);
  CHECK(ok != nullptr);
  GetWindowTextW(ok, text, 64);
  CHECK(wcscmp(text, L"OK") == 0);
  const LONG button_style = GetWindowLongW(ok, GWL_STYLE);
  CHECK_EQ(button_style & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  CHECK((button_style & (WS_TABSTOP | WS_GROUP)) == (WS_TABSTOP | WS_GROUP));
  RECT place = {92, 28, 92 + 50, 28 + 14}, actual;
  MapDialogRect(box, &place);
  GetWindowRect(ok, &actual);
  MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&actual), 2);
  CHECK(EqualRect(&place, &actual));
  DestroyWindow(box);
}

enum CloseBy { CLOSE_BY_OK, CLOSE_BY_ESCAPE, CLOSE_BY_CLOSE_BOX };
CloseBy g_close_by;
HWND g_owner;
bool g_owner_was_disabled;
int g_polls;
constexpr int kGiveUpPolls = 100;
constexpr INT_PTR kGaveUp = 99;

void CALLBACK close_about_box(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = FindWindowW(L"#32770", L"About Quellcore");
  if (!box) return;
  if (++g_polls > kGiveUpPolls) {
    KillTimer(nullptr, timer);
    EndDialog(box, kGaveUp);
    return;
  }
  KillTimer(nullptr, timer);
  g_owner_was_disabled = !IsWindowEnabled(g_owner);
  HWND focus = GetFocus();
  switch (g_close_by) {
    case CLOSE_BY_OK:
      SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
      break;
    case CLOSE_BY_ESCAPE:
      PostMessageW(focus && IsChild(box, focus) ? focus : box, WM_KEYDOWN, VK_ESCAPE, 0);
      break;
    case CLOSE_BY_CLOSE_BOX:
      PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
}

void check_about_box_closes() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  g_owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                            200, nullptr, nullptr, instance, nullptr);
  const struct { CloseBy by; INT_PTR result; } cases[] = {
      {CLOSE_BY_OK, IDOK}, {CLOSE_BY_ESCAPE, IDCANCEL}, {CLOSE_BY_CLOSE_BOX, IDCANCEL}};
  for (const auto& c : cases) {
    g_close_by = c.by;
    g_polls = 0;
    g_owner_was_disabled = false;
    SetTimer(nullptr, 0, 200, close_about_box);
    CHECK_EQ(run_about_box(instance, g_owner), c.result);
    CHECK(g_owner_was_disabled);
    CHECK(IsWindowEnabled(g_owner));
  }
  // The menu command's entry point returns once the box is closed.
  g_close_by = CLOSE_BY_OK;
  SetTimer(nullptr, 0, 200, close_about_box);
  show_about_box(instance, g_owner);
  CHECK(FindWindowW(L"#32770", L"About Quellcore") == nullptr);
  DestroyWindow(g_owner);
}

}  // namespace

int main(int argc, char** argv) {
  const bool no_control = argc > 1 && strcmp(argv[1], "--no-control") == 0;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  g_base = std::wstring(temp) + L"qc-help";
  CreateDirectoryW(g_base.c_str(), nullptr);

  if (no_control) {
    check_help_writes_one_copy(L"no-control", false);
    CHECK_EQ(g_html_help.state, HELP_CONTROL_UNAVAILABLE);
    CHECK_EQ(g_html_help.load_attempts, 1);  // the second command did not try again
    CHECK(GetModuleHandleW(L"hhctrl.ocx") == nullptr);
    return check_summary("help_wine_no_control");
  }
  check_menu_and_keys();
  check_icons();
  check_about_template();
  check_about_box_closes();
  check_long_temp_folders_write_nothing();
  CHECK_EQ(g_html_help.load_attempts, 0);  // nothing was written, so no viewer was asked
  check_help_writes_one_copy(L"one", true);
  check_loader_takes_only_the_system_control();
  return check_summary("help_wine");
}
