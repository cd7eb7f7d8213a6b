"""The package's export and result-code tables against the ones the library is built from."""

from conftest import REPO

from kestrellink._exports import EXPORTS
from kestrellink._result_codes import MEANINGS


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
    expected = {}
    for group, code, meaning in rows:
        expected.setdefault(group, {})[int(code)] = meaning
    assert MEANINGS == expected
    assert "clock command" in MEANINGS["OpenDevice"][17]
    assert MEANINGS["OpenDevice4"][17] == "channel B could not be opened"
