"""The package's export and result-code tables against the ones the library is built from."""

import re

from conftest import REPO

from kestrellink._exports import EXPORTS
from kestrellink import _result_codes
from kestrellink._result_codes import CLASSES, MEANINGS


def test_table_matches_the_library_export_table():
    rows = [line.split("\t") for line in
            (REPO / "src/shell/exports.tsv").read_text().splitlines()
            if line and not line.startswith("#")]
    expected = [(int(o), n, lx, w, r, a) for o, n, lx, w, r, a in rows]
    actual = [(e.ordinal, e.name, e.linux or e.name, e.windows or e.name, e.result, e.parameters)
              for e in EXPORTS]
    assert actual == expected


def test_result_codes_match_the_library_table():
    rows = [line.split("\t") for line in
            (REPO / "src/shell/result_codes.tsv").read_text().splitlines()
            if line and not line.startswith("#")]
    meanings, classes = {}, {}
    for group, code, name, kind, meaning in rows:
        meanings.setdefault(group, {})[int(code)] = meaning
        classes.setdefault(group, {})[int(code)] = kind
        constant = re.sub(r"([a-z0-9])([A-Z])", r"\1_\2",
                          re.sub(r"([A-Z])([A-Z][a-z])", r"\1_\2", name)).upper()
        assert getattr(_result_codes, constant) == int(code), name
    assert MEANINGS == meanings
    assert CLASSES == classes
    names = [row[2] for row in rows]
    assert len(set(names)) == len(names)
    assert "clock command" in MEANINGS["OpenDevice"][17]
    assert MEANINGS["OpenDevice4"][17] == "channel B could not be opened"
    assert (_result_codes.OPEN_CHANNEL_A_FAILED, _result_codes.LOAD_LACKS_EE_UA_SIZE) == (9, 27)
