#!/usr/bin/env python3
"""Reads a Wine trace (WINEDEBUG=+pid,+service) of one process and checks that it asked the
service control manager and the service only for rights Windows gives an interactive user.

    rights.py TRACE PID

PID: the process's id (decimal). Prints the masks seen as key=value words; exit code 0 when
every request lies within what an interactive user is granted.
"""

import re
import sys

# What Windows grants interactive users: on the manager connect, enumerate, lock status and
# read control; on Quellcore's service the query rights, start, stop and read control.
MANAGER_USER_RIGHTS = 0x20015
SERVICE_USER_RIGHTS = 0x201BD
START, STOP = 0x10, 0x20

CALL = re.compile(r"^([0-9a-f]+):[0-9a-f]+:trace:service:(OpenSCManagerW|OpenServiceW|CreateServiceW) (.*?)(0x[0-9a-f]+|\d+)\s*$")


def main():
    trace, pid = sys.argv[1], int(sys.argv[2])
    manager, service, created = set(), set(), 0
    with open(trace, errors="replace") as lines:
        for line in lines:
            found = CALL.match(line.strip())
            if not found or int(found.group(1), 16) != pid:
                continue
            call, mask = found.group(2), int(found.group(4), 0)
            if call == "OpenSCManagerW":
                manager.add(mask)
            elif call == "OpenServiceW":
                service.add(mask)
            else:
                created += 1
    wide_manager = sorted(m for m in manager if m & ~MANAGER_USER_RIGHTS)
    wide_service = sorted(m for m in service if m & ~SERVICE_USER_RIGHTS)
    print("manager=%s service=%s created=%d" % (",".join(hex(m) for m in sorted(manager)) or "none",
                                                ",".join(hex(m) for m in sorted(service)) or "none", created))
    ok = manager and service and not wide_manager and not wide_service and created == 0
    # The Stop and Start clicks must have been traced too, or the check proves little.
    ok = ok and any(m & STOP for m in service) and any(m & START for m in service)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
