#!/usr/bin/env python3
"""The USB face as a library beside the system's libusb-1.0.

    check_face_library.py exports FACE SYSTEM ROWS   the face exports exactly the system's
                                                     functions (and vc_*), and ROWS lists them
    check_face_library.py names FACE                 the unversioned libusb-1.0.so in the
                                                     face's folder is the face, for ctypes and
                                                     for pyusb, with that folder first
"""
import os
import re
import subprocess
import sys

SKIP = 77  # ctest's SKIP_RETURN_CODE


def defined_functions(library):
    out = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                         capture_output=True, text=True).stdout
    return {line.split()[2] for line in out.splitlines() if line.split()[1] in ("T", "W")}


def check_exports(face, system, rows):
    face_names = {n for n in defined_functions(face) if not n.startswith("vc_")}
    system_names = defined_functions(system)
    row_names = set(re.findall(r"X\((libusb_\w+)\)", open(rows).read()))
    problems = []
    for what, names in (("the face", face_names), (os.path.basename(rows), row_names)):
        missing, extra = sorted(system_names - names), sorted(names - system_names)
        if missing:
            problems.append(f"{what} lacks {len(missing)}: {' '.join(missing)}")
        if extra:
            problems.append(f"{what} has {len(extra)} the system's has not: {' '.join(extra)}")
    print(f"system {len(system_names)}, face {len(face_names)} (without vc_*), "
          f"rows {len(row_names)}")
    return problems


# Run in a child with the face's folder first on the loader's path: the unversioned name as
# ctypes loads it, pyusb told to load it, and pyusb's own lookup all reach the face.
CHILD = r"""
import ctypes, sys
lib = ctypes.CDLL("libusb-1.0.so")
assert hasattr(lib, "vc_reset"), "libusb-1.0.so is not the face"
try:
    import usb.backend.libusb1, usb.core
except ImportError:
    sys.exit(77)
for how, finder in (("libusb-1.0.so", lambda _: "libusb-1.0.so"), ("pyusb's lookup", None)):
    backend = usb.backend.libusb1.get_backend(find_library=finder)
    assert backend is not None, how
    ids = [(d.idVendor, d.idProduct) for d in usb.core.find(find_all=True, backend=backend)]
    assert (0x0403, 0x6010) in ids, f"{how}: no cable in {ids}"
    usb.backend.libusb1._lib = usb.backend.libusb1._lib_object = None  # afresh for the next
print("libusb-1.0.so, pyusb with it and pyusb's own lookup reach the face")
"""


def check_names(face):
    folder = os.path.dirname(os.path.abspath(face))
    link = os.path.join(folder, "libusb-1.0.so")
    if os.path.realpath(link) != os.path.realpath(face):
        return [f"{link} is not the face"]
    python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
    env = dict(os.environ, LD_LIBRARY_PATH=folder)
    env.pop("VCABLE_SCENARIO", None)
    child = subprocess.run([python, "-c", CHILD], env=env, capture_output=True, text=True,
                           timeout=120)
    print(child.stdout, end="")
    if child.returncode == SKIP:
        print("pyusb is not installed: its part is skipped")
        sys.exit(SKIP)
    return [child.stderr.strip()] if child.returncode != 0 else []


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "exports":
        problems = check_exports(*sys.argv[2:])
    elif len(sys.argv) == 3 and sys.argv[1] == "names":
        problems = check_names(sys.argv[2])
    else:
        sys.exit(__doc__)
    for problem in problems:
        print("FAIL:", problem)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
