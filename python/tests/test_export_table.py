"""The package's export table against the one the library is built from."""

from conftest import REPO

from kestrellink._exports import EXPORTS


def test_table_matches_the_library_export_table():
    rows = [line.split("\t") for line in
            (REPO / "src/shell/exports.tsv").read_text().splitlines()
            if line and not line.startswith("#")]
    expected = [(int(o), n, lx, w, r, a) for o, n, lx, w, r, a in rows]
    actual = [(e.ordinal, e.name, e.linux or e.name, e.windows or e.name, e.result, e.parameters)
              for e in EXPORTS]
    assert actual == expected
