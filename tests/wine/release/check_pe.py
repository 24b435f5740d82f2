#!/usr/bin/env python3
"""Release checks of one quellcore.exe, run on Linux against the cross-built file.

    check_pe.py --arch x86|x64 [--without-string ID] EXE

Headers, imports and resources are read with pefile; the menu, accelerator, dialog and
icon-group templates and the embedded help file are read below. Prints one line per
failed check and a summary line; the exit code is 0 only when every check passed.
--without-string ID checks a copy of EXE whose string ID has been taken out of its
string table, to show that the checks can fail.
"""

import argparse
import struct
import sys
import xml.etree.ElementTree as ET

import pefile

# What the static MinGW build may import: KnownDLLs only, which the loader takes from the
# system and never from the executable's folder (a download's, where anyone may plant a
# DLL that would then run elevated). Any other system DLL is loaded at run time from
# System32. The C and C++ runtimes, libgcc and winpthread are linked in statically.
KNOWN_DLL_IMPORTS = {
    "kernel32.dll",
    "user32.dll",
    "gdi32.dll",
    "advapi32.dll",
    "shell32.dll",
    "ole32.dll",
    "oleaut32.dll",
    "msvcrt.dll",
}
# No KnownDLL, but the manifest's dependency on the common controls has the loader take
# it from the system's side-by-side store.
MANIFEST_IMPORTS = {"comctl32.dll": "Microsoft.Windows.Common-Controls"}

ARCHES = {
    # arch: (optional-header magic, magic text, machine)
    "x86": (0x10B, "PE32", 0x14C),
    "x64": (0x20B, "PE32+", 0x8664),
}

IMAGE_SUBSYSTEM_WINDOWS_GUI = 2

RT_ICON = 3
RT_MENU = 4
RT_DIALOG = 5
RT_STRING = 6
RT_ACCELERATOR = 9
RT_RCDATA = 10
RT_GROUP_ICON = 14
RT_MANIFEST = 24

ID_STRING_TITLE = 103
ID_STRING_CLASS = 109
ID_MENU = 109
ID_ACCELERATORS = 109
ID_ICON = 107
ID_ICON_SMALL = 108
ID_DIALOG_ABOUT = 103
ID_HELP_FILE = 115
ID_MANIFEST = 1

IDM_ABOUT = 104
IDM_EXIT = 105
IDM_OPTIONS = 110
IDM_HELP = 116
IDM_SPARE_FRONT = 118
IDOK = 1

FVIRTKEY = 0x01
FALT = 0x10
MF_POPUP = 0x10
MF_END = 0x80

# Menu 109 as the window shows it: popup text, then (item text, command id) in order.
EXPECTED_MENU = [
    ("&File", [("&Options ...", IDM_OPTIONS), ("&Spare the Program in Front", IDM_SPARE_FRONT), ("E&xit", IDM_EXIT)]),
    ("&Help", [("&Help", IDM_HELP), ("&About", IDM_ABOUT)]),
]


class Failures:
    def __init__(self):
        self.failed = []
        self.passed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed.append(what)
            print("FAILED: " + what)
            sys.stdout.flush()
        return ok


# ---------------------------------------------------------------- PE reading

def read_pe(data):
    """(pefile image, {(type, id): bytes} for numeric types and ids, first language)."""
    pe = pefile.PE(data=data, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
                                           pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    resources = {}
    for kind in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None) and pe.DIRECTORY_ENTRY_RESOURCE.entries or []:
        if kind.id is None or not hasattr(kind, "directory"):
            continue
        for entry in kind.directory.entries:
            if entry.id is None or not hasattr(entry, "directory") or not entry.directory.entries:
                continue
            leaf = entry.directory.entries[0].data.struct
            resources[(kind.id, entry.id)] = pe.get_data(leaf.OffsetToData, leaf.Size)
    return pe, resources


def without_string(data, string_id):
    """A copy of the image whose string string_id is empty, the rest of its block kept."""
    pe, _ = read_pe(data)
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != RT_STRING:
            continue
        for entry in kind.directory.entries:
            if entry.id != string_id // 16 + 1:
                continue
            leaf = entry.directory.entries[0].data.struct
            start = pe.get_offset_from_rva(leaf.OffsetToData)
            block, pos, out = data[start:start + leaf.Size], 0, b""
            for index in range(16):
                (length,) = struct.unpack_from("<H", block, pos)
                if index != string_id % 16:
                    out += block[pos:pos + 2 + 2 * length]
                else:
                    out += b"\0\0"
                pos += 2 + 2 * length
            return data[:start] + out.ljust(leaf.Size, b"\0") + data[start + leaf.Size:]
    raise ValueError("no string table block holds string %d" % string_id)


def read_wide(data, pos):
    """A null-terminated UTF-16 string at pos; returns (text, position after the null)."""
    end = pos
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def read_sz_or_ord(data, pos):
    """A dialog-template field: 0 (none), 0xFFFF + ordinal, or a string."""
    first = struct.unpack_from("<H", data, pos)[0]
    if first == 0:
        return None, pos + 2
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    return read_wide(data, pos)


def parse_menu(data):
    """[(popup text, [(item text, id), ...]), ...] of a MENU or MENUEX template."""
    version, header_size = struct.unpack_from("<HH", data, 0)
    if version == 0:
        pos = 4 + header_size

        def items(pos):
            result = []
            while True:
                (flags,) = struct.unpack_from("<H", data, pos)
                pos += 2
                if flags & MF_POPUP:
                    text, pos = read_wide(data, pos)
                    children, pos = items(pos)
                    result.append((text, children))
                else:
                    (item_id,) = struct.unpack_from("<H", data, pos)
                    text, pos = read_wide(data, pos + 2)
                    if text or item_id:
                        result.append((text, item_id))
                if flags & MF_END:
                    return result, pos

        return items(pos)[0]
    if version == 1:
        pos = 4 + header_size

        def items_ex(pos):
            result = []
            while True:
                _, _, item_id, res_info = struct.unpack_from("<IIIH", data, pos)
                text, pos = read_wide(data, pos + 14)
                pos = (pos + 3) & ~3
                if res_info & 0x01:
                    pos += 4  # help id of the popup
                    children, pos = items_ex(pos)
                    result.append((text, children))
                elif text or item_id:
                    result.append((text, item_id))
                if res_info & MF_END:
                    return result, pos

        return items_ex(pos)[0]
    raise ValueError("unknown menu template version %d" % version)


def parse_dialog(data):
    """(caption, is_extended, [(id, class, text), ...]) of a dialog template."""
    extended = struct.unpack_from("<HH", data, 0) == (1, 0xFFFF)
    if extended:
        _, _, _, _, style, count, _, _, _, _ = struct.unpack_from("<HHIIIHhhhh", data, 0)
        pos = 26
    else:
        style, _, count, _, _, _, _ = struct.unpack_from("<IIHhhhh", data, 0)
        pos = 18
    _, pos = read_sz_or_ord(data, pos)  # menu
    _, pos = read_sz_or_ord(data, pos)  # class
    caption, pos = read_wide(data, pos)
    DS_SETFONT = 0x40
    if style & DS_SETFONT:
        pos += 6 if extended else 2  # point size (and weight, italic, charset)
        _, pos = read_wide(data, pos)
    controls = []
    for _ in range(count):
        pos = (pos + 3) & ~3
        if extended:
            control_id = struct.unpack_from("<I", data, pos + 20)[0]
            pos += 24
        else:
            control_id = struct.unpack_from("<H", data, pos + 16)[0]
            pos += 18
        cls, pos = read_sz_or_ord(data, pos)
        text, pos = read_sz_or_ord(data, pos)
        (extra,) = struct.unpack_from("<H", data, pos)
        pos += 2 + extra
        controls.append((control_id, cls, text))
    return caption, extended, controls


# ---------------------------------------------------------------- the checks

def check_headers(f, pe, arch):
    magic, magic_text, machine = ARCHES[arch]
    f.check(pe.FILE_HEADER.Machine == machine, "machine %#x (found %#x)" % (machine, pe.FILE_HEADER.Machine))
    f.check(pe.OPTIONAL_HEADER.Magic == magic,
            "optional-header magic %#x, %s (found %#x)" % (magic, magic_text, pe.OPTIONAL_HEADER.Magic))
    f.check(pe.OPTIONAL_HEADER.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI,
            "subsystem 2, Windows GUI (found %d)" % pe.OPTIONAL_HEADER.Subsystem)


def manifest_dependencies(pe):
    """The names of the assemblies the manifest depends on."""
    for kind in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None) and pe.DIRECTORY_ENTRY_RESOURCE.entries or []:
        if kind.id != RT_MANIFEST:
            continue
        for entry in kind.directory.entries:
            for language in entry.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                try:
                    root = ET.fromstring(data)
                except ET.ParseError:
                    return set()
                return {e.get("name") for e in root.iter() if e.tag.rsplit("}", 1)[-1] == "assemblyIdentity"}
    return set()


def check_imports(f, pe):
    entries = getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
    dlls = [entry.dll.decode("ascii", "replace") for entry in entries]
    f.check(any(d.lower() == "kernel32.dll" for d in dlls), "imports are listed (KERNEL32.dll among them)")
    assemblies = manifest_dependencies(pe)
    for dll in dlls:
        known = dll.lower() in KNOWN_DLL_IMPORTS or MANIFEST_IMPORTS.get(dll.lower()) in assemblies
        f.check(known, "imports only KnownDLLs, or comctl32 through the manifest (found %s)" % dll)
    # The manager sends the notice before a shutdown and session changes only to a handler
    # registered in the extended form.
    names = {imp.name for entry in entries for imp in entry.imports if imp.name}
    if b"StartServiceCtrlDispatcherW" in names:
        f.check(b"RegisterServiceCtrlHandlerExW" in names and b"RegisterServiceCtrlHandlerW" not in names,
                "the service registers the extended control handler")
    return dlls


def check_manifest(f, resources):
    manifest = resources.get((RT_MANIFEST, ID_MANIFEST))
    if not f.check(manifest is not None, "manifest resource 1 present"):
        return
    try:
        root = ET.fromstring(manifest)
    except ET.ParseError as error:
        f.check(False, "manifest is well-formed XML (%s)" % error)
        return
    levels = [e.get("level") for e in root.iter() if e.tag.rsplit("}", 1)[-1] == "requestedExecutionLevel"]
    f.check(levels == ["asInvoker"], "manifest asks for asInvoker (found %s)" % levels)


def check_strings(f, pe):
    strings = {}
    for kind in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None) and pe.DIRECTORY_ENTRY_RESOURCE.entries or []:
        if kind.id == RT_STRING:
            for entry in kind.directory.entries:
                strings.update(getattr(entry.directory, "strings", {}))
    for string_id, text in ((ID_STRING_TITLE, "Quellcore"), (ID_STRING_CLASS, "KESTO")):
        found = strings.get(string_id) or None
        f.check(found == text, "string %d is %r (found %r)" % (string_id, text, found))


def check_menu_and_accelerators(f, resources):
    menu = resources.get((RT_MENU, ID_MENU))
    if f.check(menu is not None, "menu %d present" % ID_MENU):
        try:
            found = parse_menu(menu)
        except (ValueError, struct.error) as error:
            found = "unreadable (%s)" % error
        f.check(found == EXPECTED_MENU, "menu %d is %r (found %r)" % (ID_MENU, EXPECTED_MENU, found))
    table = resources.get((RT_ACCELERATOR, ID_ACCELERATORS))
    if f.check(table is not None and len(table) % 8 == 0 and table,
               "accelerator table %d present" % ID_ACCELERATORS):
        entries = [struct.unpack_from("<HHHH", table, i) for i in range(0, len(table), 8)]
        plain = sorted((key, fvirt & ~MF_END, cmd) for fvirt, key, cmd, _ in entries)
        # Character keys, so FVIRTKEY stays clear; both give the About box. Then the
        # virtual keys: F1 for Help, Ctrl(+Shift)+Tab and Ctrl+PgDn/PgUp between the pages.
        virt, ctrl, shift = 0x01, 0x08, 0x04
        expected = sorted([(ord(c), FALT, IDM_ABOUT) for c in "?/"] + [
            (0x70, virt, IDM_HELP), (0x09, virt | ctrl, 123), (0x22, virt | ctrl, 123),
            (0x09, virt | ctrl | shift, 124), (0x21, virt | ctrl, 124)])
        f.check(plain == expected, "accelerators: About, Help and the page keys (found %r)" % plain)


def check_icons(f, resources):
    for group_id in (ID_ICON, ID_ICON_SMALL):
        group = resources.get((RT_GROUP_ICON, group_id))
        if not f.check(group is not None, "group icon %d present" % group_id):
            continue
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        f.check(reserved == 0 and kind == 1 and count >= 1 and len(group) == 6 + 14 * count,
                "group icon %d has a valid directory" % group_id)
        for i in range(count if len(group) == 6 + 14 * count else 0):
            width, height, _, _, _, _, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            image = resources.get((RT_ICON, icon_id))
            f.check(image is not None and len(image) == size,
                    "group icon %d entry %d refers to icon %d of %d bytes" % (group_id, i, icon_id, size))
            if image is not None and image[:4] == struct.pack("<I", 40):
                w, h = struct.unpack_from("<ii", image, 4)
                f.check((w, h // 2) == (width or 256, height or 256),
                        "icon %d image matches its directory size" % icon_id)


def check_about_dialog(f, resources):
    dialog = resources.get((RT_DIALOG, ID_DIALOG_ABOUT))
    if not f.check(dialog is not None, "dialog %d present" % ID_DIALOG_ABOUT):
        return
    try:
        caption, extended, controls = parse_dialog(dialog)
    except (ValueError, struct.error, UnicodeDecodeError) as error:
        f.check(False, "dialog %d readable (%s)" % (ID_DIALOG_ABOUT, error))
        return
    f.check(extended, "dialog %d is an extended template" % ID_DIALOG_ABOUT)
    f.check(caption == "About Quellcore", "dialog caption 'About Quellcore' (found %r)" % caption)
    BUTTON_CLASS = 0x80
    f.check(any(c == (IDOK, BUTTON_CLASS, "OK") for c in controls),
            "dialog has the OK button, id 1 (found %r)" % controls)


def check_help_file(f, resources):
    """The embedded help must be a whole compiled help file, not a stub or a cut copy."""
    chm = resources.get((RT_RCDATA, ID_HELP_FILE))
    if not f.check(chm is not None, "raw data %d present" % ID_HELP_FILE):
        return
    if not f.check(chm[:4] == b"ITSF" and len(chm) >= 0x60, "raw data %d starts with ITSF" % ID_HELP_FILE):
        return
    version = struct.unpack_from("<I", chm, 4)[0]
    f.check(version == 3, "help file header version 3 (found %d)" % version)
    section0_offset, _, section1_offset, _ = struct.unpack_from("<QQQQ", chm, 0x38)
    ok = section0_offset + 16 <= len(chm)
    if f.check(ok, "help file header section lies inside the file"):
        marker, _, file_size = struct.unpack_from("<IIQ", chm, section0_offset)
        f.check(marker == 0x1FE and file_size == len(chm),
                "help file records its own size %d (found %d)" % (len(chm), file_size))
    f.check(chm[section1_offset:section1_offset + 4] == b"ITSP", "help file directory starts with ITSP")
    f.check(b"/#SYSTEM" in chm and b".hhc" in chm, "help file carries its system file and a table of contents")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", choices=sorted(ARCHES), required=True)
    parser.add_argument("--without-string", type=int, metavar="ID")
    parser.add_argument("exe")
    args = parser.parse_args()

    f = Failures()
    with open(args.exe, "rb") as handle:
        data = handle.read()
    try:
        if args.without_string is not None:
            data = without_string(data, args.without_string)
        pe, resources = read_pe(data)
    except (pefile.PEFormatError, ValueError, struct.error) as error:
        print("FAILED: %s is not a readable PE file (%s)" % (args.exe, error))
        return 1

    check_headers(f, pe, args.arch)
    dlls = check_imports(f, pe)
    check_manifest(f, resources)
    check_strings(f, pe)
    check_menu_and_accelerators(f, resources)
    check_icons(f, resources)
    check_about_dialog(f, resources)
    check_help_file(f, resources)

    print("%s (%s): imports %s; %d checks passed, %d failed"
          % (args.exe, args.arch, ", ".join(dlls), f.passed, len(f.failed)))
    return 0 if not f.failed else 1


if __name__ == "__main__":
    sys.exit(main())
