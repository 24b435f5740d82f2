// Which executable files are the system's own, told from where they live: only folders
// that the system's installer alone can write are trusted, so a program a user can place
// is never taken for one of them.
#pragma once

#include <stdint.h>

// 1 when `image` (a full path, the "\\?\" prefix allowed) lies directly in the Windows
// folder, directly in its System32 or SysWOW64, or anywhere under its SystemApps, WinSxS,
// servicing, System32\DriverStore\FileRepository, Microsoft.NET\Framework or Framework64,
// UUS or ImmersiveControlPanel (except below a Temp, Tasks or Temporary ASP.NET Files
// folder), and is not one of the system's hosts of a user's or a vendor's own code
// (cmd.exe, rundll32.exe, cscript.exe, wscript.exe, mshta.exe, dllhost.exe, regsvr32.exe,
// msiexec.exe, hh.exe); else 0. Compared without regard to case; a path with a "." or
// ".." component, an empty component or a stream name is never trusted.
int is_system_image(const wchar_t* image, int32_t image_length, const wchar_t* windows_folder,
                    int32_t folder_length);
