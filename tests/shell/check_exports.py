#!/usr/bin/env python3
"""Compares a built library's exports with src/shell/exports.tsv.

  check_exports.py table TABLE
      the table itself: the rows the library promises, ordinals from 5 on without gaps, the fixed
      and the sorted ordinals, decorations
  check_exports.py linux TABLE LIBRARY.so ARCHIVE.a [--allow-pending]
      nm -D --defined-only of the shared library must list exactly the table's Linux symbols
  check_exports.py windows TABLE KestrelLink.dll ARCHIVE.a [--allow-pending]
      objdump -p of the DLL: its name, exactly the table's names at the table's ordinals, no plain
      name for a decorated export, and imports from system DLLs only
  check_exports.py pending linux|windows TABLE ARCHIVE.a
      lists the exports the library archive does not define yet; exit status 1 when there are
      any, 2 when an export is defined under the wrong symbol

An export "pending" is one whose implementation is not in the library's archive at all (other
work still to land). With --allow-pending, pending exports make the check skip (exit status 77)
after every other comparison has passed; without it they fail it.
"""
import os
import re
import subprocess
import sys

SKIP = 77
MINGW_PREFIX = "x86_64-w64-mingw32-"

# What the library promises its hosts: this many exports at ordinals from FIRST_ORDINAL on, six of
# them under decorated names, and the ordinals the export directory has always had. Everything
# else is compared with the table.
PROMISED_EXPORTS = 56
PROMISED_DECORATED = 6
FIRST_ORDINAL = 5
ANCHORS = {5: "ProgramDevice", 24: "Reload_Driver_B8", 60: "test_APA"}
FIXED_LAST = 24  # ordinals up to this one are a fixed list; the rest follow the names' ASCII order

# DLLs every Windows process has; KestrelLink.dll must import from nothing else.
SYSTEM_DLL = re.compile(r"^(kernel32|user32|oleaut32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$",
                        re.IGNORECASE)


class Row:
    def __init__(self, fields):
        self.ordinal = int(fields[0])
        self.name, self.linux, self.windows = fields[1], fields[2], fields[3]

    @property
    def decorated(self):
        return self.windows != self.name

    @property
    def windows_object_symbol(self):
        return "KlDecorated_" + self.name if self.decorated else self.name


def read_table(path):
    rows = []
    with open(path, encoding="utf-8") as table:
        for line in table:
            if line[:1].isdigit():
                rows.append(Row(line.rstrip("\n").split("\t")))
    return rows


def check_table(rows):
    errors = []
    ordinals = [row.ordinal for row in rows]
    if sorted(ordinals) != list(range(FIRST_ORDINAL, FIRST_ORDINAL + len(rows))):
        errors.append(f"ordinals do not run from {FIRST_ORDINAL} without gaps: {sorted(ordinals)}")
    names = [row.name for row in rows]
    if len(set(names)) != len(names) or len(names) != PROMISED_EXPORTS:
        errors.append(f"expected {PROMISED_EXPORTS} distinct names, "
                      f"found {len(set(names))} in {len(names)} rows")
    by_ordinal = {row.ordinal: row for row in rows}
    for ordinal, name in ANCHORS.items():
        if ordinal in by_ordinal and by_ordinal[ordinal].name != name:
            errors.append(f"ordinal {ordinal} is {by_ordinal[ordinal].name}, expected {name}")
    sorted_part = [by_ordinal[o].name for o in sorted(by_ordinal) if o > FIXED_LAST]
    if sorted_part != sorted(sorted_part):  # Python compares str by code point: ASCII order
        errors.append(f"names after ordinal {FIXED_LAST} are not in ASCII order")
    decorated = [row for row in rows if row.decorated]
    if len(decorated) != PROMISED_DECORATED:
        errors.append(f"expected {PROMISED_DECORATED} decorated exports, found {len(decorated)}")
    for row in decorated:
        if not row.windows.startswith(f"?{row.name}@@"):
            errors.append(f"{row.name}: Windows name {row.windows} is not its MSVC decoration")
        if not row.linux.startswith(f"_Z{len(row.name)}{row.name}"):
            errors.append(f"{row.name}: Linux name {row.linux} is not its Itanium mangling")
    for row in rows:
        if not row.decorated and row.linux != row.name:
            errors.append(f"{row.name}: plain on Windows but {row.linux} on Linux")
    return errors


def run(command):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"FAIL: {' '.join(command)} exited with {result.returncode}:\n{result.stderr}")
    return result.stdout


def defined_globals(nm, archive):
    """Global symbols defined in text/data sections of an archive or shared library."""
    symbols = set()
    for line in run([nm, "--defined-only", archive]).splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in "TDRBW":
            symbols.add(parts[2])
    return symbols


def object_symbol(row, platform):
    """What the archive must define for the version script or the .def file to find it."""
    return row.linux if platform == "linux" else row.windows_object_symbol


def stray_definitions(row, platform, defined):
    """Definitions of the export under another symbol: wrong language linkage or wrong type."""
    wanted = object_symbol(row, platform)
    mangled = f"_Z{len(row.name)}{row.name}"
    return sorted(symbol for symbol in defined if symbol != wanted and
                  (symbol == row.name or symbol.startswith(mangled)))


def split_by_definition(rows, platform, archive):
    """Rows the archive does not define at all (pending), and errors for misdefined ones."""
    nm = "nm" if platform == "linux" else MINGW_PREFIX + "nm"
    defined = defined_globals(nm, archive)
    pending, errors, absent = [], [], set()
    for row in rows:
        strays = stray_definitions(row, platform, defined)
        if strays:
            errors.append(f"{row.name} is defined as {' '.join(strays)} in {archive}, "
                          f"expected {object_symbol(row, platform)}")
        elif object_symbol(row, platform) not in defined:
            pending.append(row)
        if object_symbol(row, platform) not in defined:
            absent.add(object_symbol(row, platform))
    return pending, errors, absent


def finish(errors, pending, allow_pending, what):
    for error in errors:
        print("FAIL:", error)
    if pending:
        names = " ".join(row.name for row in pending)
        verdict = "skipping" if allow_pending and not errors else "failing"
        print(f"PENDING ({verdict}): {len(pending)} exports not implemented yet: {names}")
    if errors or (pending and not allow_pending):
        return 1
    if pending:
        return SKIP
    print(f"OK: {what}")
    return 0


def check_linux(rows, library, archive, allow_pending):
    errors = check_table(rows)
    pending, misdefined, absent = split_by_definition(rows, "linux", archive)
    errors += misdefined
    exported = set()
    for line in run(["nm", "-D", "--defined-only", library]).splitlines():
        parts = line.split()
        if len(parts) == 3:
            exported.add(parts[2].split("@")[0])
    expected = {row.linux for row in rows}
    for symbol in sorted(exported - expected):
        errors.append(f"{library} exports {symbol}, which is not in the table")
    for symbol in sorted(expected - exported - absent):
        errors.append(f"{symbol} is defined in {archive} but {library} does not export it")
    for row in rows:
        if row.decorated and row.name in exported:
            errors.append(f"{row.name} is exported under its plain name")
    return finish(errors, pending, allow_pending,
                  f"{library} exports exactly the table's {len(rows)} symbols")


def parse_pe(dump):
    """Name, ordinal base, {name: ordinal}, address-table size and imported DLLs of objdump -p."""
    name = re.search(r"^Name\s+[0-9a-fA-F]+\s+(\S+)$", dump, re.MULTILINE)
    base = re.search(r"^Ordinal Base\s+(\d+)$", dump, re.MULTILINE)
    count = re.search(r"^\s*Export Address Table\s+([0-9a-fA-F]+)$", dump, re.MULTILINE)
    exports = {}
    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) == 2 and base:
        for match in re.finditer(r"^\s+\[\s*(\d+)\]\s+(\S+)$", table[1], re.MULTILINE):
            exports[match.group(2)] = int(base.group(1)) + int(match.group(1))
    imports = re.findall(r"^\s*DLL Name: (\S+)$", dump, re.MULTILINE)
    return (name.group(1) if name else None, int(base.group(1)) if base else None, exports,
            int(count.group(1), 16) if count else None, imports)


def check_windows(rows, dll, archive, allow_pending):
    errors = check_table(rows)
    pending, misdefined, _ = split_by_definition(rows, "windows", archive)
    errors += misdefined
    if not os.path.exists(dll):
        if not pending:
            errors.append(f"{dll} was not built, yet the archive defines every export")
        elif allow_pending:
            print(f"SKIP: {dll} cannot link until every export is implemented")
        return finish(errors, pending, allow_pending, "")
    name, base, exports, count, imports = parse_pe(run([MINGW_PREFIX + "objdump", "-p", dll]))
    if name != "KestrelLink.dll":
        errors.append(f"export directory names the module {name}, expected KestrelLink.dll")
    if base != FIRST_ORDINAL:
        errors.append(f"ordinal base is {base}, expected {FIRST_ORDINAL}")
    if count != len(rows):
        errors.append(f"export address table has {count} entries, expected {len(rows)}")
    for row in rows:
        ordinal = exports.get(row.windows)
        if ordinal is None:
            errors.append(f"{row.windows} is not exported")
        elif ordinal != row.ordinal:
            errors.append(f"{row.windows} has ordinal {ordinal}, expected {row.ordinal}")
        if row.decorated and row.name in exports:
            errors.append(f"{row.name} is exported under its plain name")
    expected = {row.windows for row in rows}
    for symbol in sorted(set(exports) - expected):
        errors.append(f"{dll} exports {symbol}, which is not in the table")
    for imported in imports:
        if not SYSTEM_DLL.match(imported):
            errors.append(f"{dll} imports {imported}, which is not a system DLL")
    return finish(errors, [], allow_pending,
                  f"{dll} exports exactly the table's {len(rows)} names at their ordinals; "
                  f"imports {imports}")


def main(argv):
    allow_pending = "--allow-pending" in argv
    args = [arg for arg in argv[1:] if arg != "--allow-pending"]
    if len(args) == 2 and args[0] == "table":
        return finish(check_table(read_table(args[1])), [], False, "the export table is consistent")
    if len(args) == 4 and args[0] == "linux":
        return check_linux(read_table(args[1]), args[2], args[3], allow_pending)
    if len(args) == 4 and args[0] == "windows":
        return check_windows(read_table(args[1]), args[2], args[3], allow_pending)
    if len(args) == 4 and args[0] == "pending" and args[1] in ("linux", "windows"):
        pending, errors, _ = split_by_definition(read_table(args[2]), args[1], args[3])
        for row in pending:
            print(row.name)
        for error in errors:
            print("FAIL:", error, file=sys.stderr)
        return 2 if errors else 1 if pending else 0
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
