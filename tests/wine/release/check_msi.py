#!/usr/bin/env python3
"""Release checks of one Quellcore Windows Installer package, read with msitools.

    check_msi.py --arch x86|x64 --version VERSION --exe QUELLCORE_EXE PACKAGE

Checks what Windows Installer will do with the package: the file it installs (the
executable, byte for byte) and where, the service it registers and how it stops and
removes it, the Start-menu and Startup-folder shortcuts, the installed-programs entry's
name, version and icon, and the upgrade that replaces an older package. Prints one line per failed check
and a summary line; the exit code is 0 only when every check passed.
"""

import argparse
import os
import subprocess
import sys
import tempfile

# arch: (summary template, Program Files folder, component attribute bits for 64-bit)
ARCHES = {
    "x86": ("Intel;1033", "ProgramFilesFolder", 0),
    "x64": ("x64;1033", "ProgramFiles64Folder", 256),
}

SERVICE_WIN32_OWN_PROCESS = 16
SERVICE_DEMAND_START = 3
SERVICE_ERROR_NORMAL = 1
SW_SHOWMINNOACTIVE = 7  # a shortcut's "Minimized"
# Start at install; stop at install and at uninstall; delete at uninstall.
SERVICE_CONTROL_EVENTS = 0x001 | 0x002 | 0x020 | 0x080


def table(package, name):
    """The rows of one table as lists of strings (msiinfo export: names, types, keys, rows)."""
    # Tables with streams (Icon) are written out to the working folder as well.
    with tempfile.TemporaryDirectory() as scratch:
        text = subprocess.run(["msiinfo", "export", os.path.abspath(package), name], cwd=scratch,
                              check=True, capture_output=True, text=True).stdout
    return [line.split("\t") for line in text.splitlines()[3:] if line]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=ARCHES, required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("package")
    args = parser.parse_args()
    template, program_files, bits64 = ARCHES[args.arch]
    failed = []
    passed = 0

    def check(ok, what):
        nonlocal passed
        if ok:
            passed += 1
        else:
            failed.append(what)
            print("FAILED: " + what)

    summary = subprocess.run(["msiinfo", "suminfo", args.package], check=True,
                             capture_output=True, text=True).stdout
    check("Template: %s" % template in summary, "platform %s" % template)

    props = {row[0]: row[1] for row in table(args.package, "Property")}
    check(props.get("ProductName") == "Quellcore", "product name Quellcore")
    check(props.get("ProductVersion") == args.version, "product version %s" % args.version)
    check(props.get("ALLUSERS") == "1", "installed for the whole machine")
    check(len(props.get("UpgradeCode", "")) == 38, "an upgrade code")
    icons = [row[0] for row in table(args.package, "Icon")]
    check(props.get("ARPPRODUCTICON") in icons, "the entry's icon is in the package")

    upgrades = table(args.package, "Upgrade")
    check(any(row[0] == props.get("UpgradeCode") and row[2] == args.version and
              row[6] == "WIX_UPGRADE_DETECTED" for row in upgrades),
          "an older version of the same upgrade code is found")
    sequence = {row[0] for row in table(args.package, "InstallExecuteSequence")}
    check("RemoveExistingProducts" in sequence, "the older version is removed")

    dirs = {row[0]: (row[1], row[2]) for row in table(args.package, "Directory")}
    components = {row[0]: row for row in table(args.package, "Component")}
    files = table(args.package, "File")
    check(len(files) == 1 and files[0][2] == "quellcore.exe", "one file, quellcore.exe")
    component = components.get(files[0][1]) if files else None
    check(component is not None and dirs.get(component[2]) == (program_files, "Quellcore"),
          "installed into %s\\Quellcore" % program_files)
    check(component is not None and int(component[3]) & 256 == bits64,
          "component bitness for %s" % args.arch)

    with tempfile.TemporaryDirectory() as out:
        # msiextract names the installed folders its own way.
        subprocess.run(["msiextract", "-C", out, args.package], check=True, capture_output=True)
        extracted = [os.path.join(d, f) for d, _, names in os.walk(out) for f in names
                     if f == "quellcore.exe"]
        with open(args.exe, "rb") as exe:
            want = exe.read()
        have = b""
        if len(extracted) == 1:
            with open(extracted[0], "rb") as packaged:
                have = packaged.read()
        check(have == want, "the packaged file is the executable, byte for byte")

    services = table(args.package, "ServiceInstall")
    check(len(services) == 1, "one service")
    if services:
        s = services[0]
        check(s[1:3] == ["QuellcoreSvc", "QuellcoreSvc"], "service name and display name")
        check([int(s[3]), int(s[4]), int(s[5])] ==
              [SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL],
              "own process, demand start, normal error control")
        check(s[7] == "" and s[8] == "" and s[9] == "", "LocalSystem, no arguments")
        check(files and s[11] == files[0][1], "the service runs the installed file")
    controls = table(args.package, "ServiceControl")
    check(len(controls) == 1 and controls[0][1] == "QuellcoreSvc" and
          int(controls[0][2]) == SERVICE_CONTROL_EVENTS and controls[0][4] == "1",
          "started at install, stopped at install and uninstall, removed at uninstall, waited for")

    shortcuts = {row[1]: row for row in table(args.package, "Shortcut")}
    menu = shortcuts.get("ProgramMenuFolder")
    check(len(shortcuts) == 2 and menu is not None and menu[2] == "Quellcore" and menu[4] == "[#quellcore.exe]",
          "Start-menu shortcut Quellcore to the installed file")
    startup = shortcuts.get("StartupFolder")
    check(startup is not None and startup[2] == "Quellcore" and startup[4] == "[#quellcore.exe]" and
          startup[10] == str(SW_SHOWMINNOACTIVE),
          "Startup-folder shortcut to the installed file, minimized (a sign-in start into the notification area)")

    print("%s: %d passed, %d failed" % (os.path.basename(args.package), passed, len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
