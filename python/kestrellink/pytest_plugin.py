"""pytest plugin: the ``virtual_cable`` fixture.

A test that asks for ``virtual_cable`` gets a :class:`kestrellink.VirtualCable` with a fresh
scenario: the embedded default, or the one the test names with
``@pytest.mark.virtual_cable_scenario(path_or_toml_text)`` or by indirect parametrisation
(``@pytest.mark.parametrize("virtual_cable", [...], indirect=True)``). At the end of the test
whatever connection the library left open is closed.
"""

from __future__ import annotations

from typing import Iterator

import pytest

from .virtual import VirtualCable


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line(
        "markers", "virtual_cable_scenario(scenario): the scenario (a path or TOML text) the "
                   "virtual_cable fixture loads")


@pytest.fixture
def virtual_cable(request: pytest.FixtureRequest) -> Iterator[VirtualCable]:
    """The virtual cable, loaded ahead of the library, with the test's scenario."""
    marker = request.node.get_closest_marker("virtual_cable_scenario")
    scenario = getattr(request, "param", marker.args[0] if marker else None)
    with VirtualCable(scenario) as cable:
        yield cable
