#!/usr/bin/env python3
"""Checks the 32-bit Kestrin.dll's binary interface from its code alone.

The host calls the plug-in object through a 32-bit MSVC table: slot 0 the
scalar deleting destructor, then SetHost, CreatePluginWindow, OnStreamData,
OnChannelChange and OnHostEvent, every slot __thiscall (the object in ECX,
the arguments on the stack, the callee pops them). The Wine tests prove that
by calling the DLL; on a kernel that runs no 32-bit program they cannot run,
so this check reads the same facts from the DLL's symbols and machine code:

- the table of CSamplePlugin holds the six members in the host's order;
- every return of each member pops exactly its arguments' bytes (`ret $N`):
  a cdecl member would pop nothing, a stdcall one with the object on the
  stack 4 bytes more;
- GetIface2, a plain cdecl function, pops nothing.

Usage: check_thiscall_abi.py NM OBJDUMP Kestrin.dll
"""
import re
import subprocess
import sys

# (member's mangled name, bytes of stack arguments) in slot order.
SLOTS = [
    ("_ZN13CSamplePlugin18DeletingDestructorEj", 4),
    ("_ZN13CSamplePlugin7SetHostEP8IDTVHostj", 8),
    ("_ZN13CSamplePlugin18CreatePluginWindowEP6HWND__", 4),
    ("_ZN13CSamplePlugin12OnStreamDataEPKhj", 8),
    ("_ZN13CSamplePlugin15OnChannelChangeEii", 8),
    ("_ZN13CSamplePlugin11OnHostEventEii", 8),
]
TABLE = "_ZTV13CSamplePlugin"
EXPORT = "GetIface2"


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    nm, objdump, dll = sys.argv[1:]
    symbols = {}
    addresses = set()
    for line in run(nm, dll).splitlines():
        parts = line.split()
        if len(parts) != 3:
            continue
        address = int(parts[0], 16)
        # The i686 toolchain puts an underscore before every C-level name.
        name = parts[2][1:] if parts[2].startswith("_") else parts[2]
        symbols.setdefault(name, address)
        addresses.add(address)
    ordered = sorted(addresses)

    def end_of(start):
        later = [a for a in ordered if a > start]
        return later[0] if later else start + 0x1000

    failures = []
    missing = [n for n, _ in SLOTS if n not in symbols] + [n for n in (TABLE, EXPORT) if n not in symbols]
    if missing:
        print("symbols not found in %s: %s" % (dll, ", ".join(missing)))
        return 1

    # The table: offset to top and type information (two words), then the
    # slots the object's table pointer points at.
    table = symbols[TABLE]
    dump = run(objdump, "-s", "--start-address=0x%x" % table,
               "--stop-address=0x%x" % (table + 8 + 4 * len(SLOTS)), dll)
    data = b""
    for line in dump.splitlines():
        m = re.match(r"^ ([0-9a-f]{8}) ((?:[0-9a-f]{2,8} ?){1,4})", line)
        if m:
            data += bytes.fromhex(m.group(2).replace(" ", ""))
    slots = [int.from_bytes(data[8 + 4 * i:12 + 4 * i], "little") for i in range(len(SLOTS))]
    for index, ((name, _), entry) in enumerate(zip(SLOTS, slots)):
        if entry != symbols[name]:
            failures.append("slot %d holds 0x%x, not %s at 0x%x" % (index, entry, name, symbols[name]))

    def returns(start):
        code = run(objdump, "-d", "--no-show-raw-insn", "--start-address=0x%x" % start,
                   "--stop-address=0x%x" % end_of(start), dll)
        pops = []
        for line in code.splitlines():
            m = re.search(r"\tret[lw]?\s*(\$0x[0-9a-f]+)?\s*$", line)
            if m:
                pops.append(int(m.group(1)[1:], 16) if m.group(1) else 0)
        return pops

    for index, (name, pop) in enumerate(SLOTS):
        pops = returns(symbols[name])
        if not pops:
            failures.append("slot %d (%s): no return found" % (index, name))
        for p in pops:
            if p != pop:
                failures.append("slot %d (%s): a return pops %d bytes, __thiscall pops %d" % (index, name, p, pop))
    for p in returns(symbols[EXPORT]) or [None]:
        if p != 0:
            failures.append("GetIface2: a return pops %s bytes, cdecl pops none" % p)

    for f in failures:
        print(f)
    if failures:
        return 1
    print("6 slots in the host's order, each popping its arguments; GetIface2 cdecl")
    return 0


if __name__ == "__main__":
    sys.exit(main())
