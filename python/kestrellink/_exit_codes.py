"""kestrel's exit codes, the same for every command, and their classes.

Generated from tools/common/exit_codes.tsv by cmake/result_codes.cmake; edit the table.
"""

from typing import Dict

EXIT_OK = 0  # the command did what was asked
EXIT_FAILED = 1  # a verify or TDO check, or another check of the cable, did not hold
EXIT_USAGE = 2  # bad arguments, or an input file that is not what the command takes
EXIT_NO_LIBRARY = 3  # no D2XX library, or the virtual cable's library cannot be loaded
EXIT_MODEL = 4  # the virtual cable's scenario cannot be loaded, or its model reported an error
EXIT_FILE = 5  # an input or output file cannot be read or written
EXIT_UNAVAILABLE = 6  # the library or cable in use lacks what the command needs
EXIT_NO_CABLE = 7  # no cable matches the description and serial
EXIT_LIBRARY_CALL = 8  # a library export returned a result other than 0 (library_call names it)
EXIT_INTERRUPTED = 130  # a stop signal (SIGINT, SIGTERM, SIGHUP) stopped the command

EXIT_CLASSES: Dict[int, str] = {
    0: "ok",
    1: "mismatch",
    2: "usage",
    3: "no-library",
    4: "model",
    5: "file",
    6: "unavailable",
    7: "no-cable",
    8: "library-call",
    130: "interrupted",
}
