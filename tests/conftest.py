import os

import pytest
from hypothesis import settings

# CI runs the property tests on a fixed sequence of examples, so a run is
# repeatable; local runs keep exploring new ones.
settings.register_profile("ci", derandomize=True, database=None)
if os.environ.get("CI"):
    settings.load_profile("ci")

import tamlor


def pytest_report_header(config):
    return f"tamlor module: {tamlor.__file__}"


def pytest_configure(config):
    # The sanitizer run must exercise its own build, not an installed copy.
    expected = os.environ.get("TAMLOR_EXPECT_MODULE_DIR")
    if expected and os.path.dirname(os.path.abspath(tamlor.__file__)) != os.path.abspath(expected):
        raise pytest.UsageError(f"tamlor imported from {tamlor.__file__}, expected {expected}")


class Reentrant:
    """A number whose conversion first runs `action` (which may touch the very
    object the number is being passed to) and then converts as `value`."""

    def __init__(self, action, value=1.0):
        self.action = action
        self.value = value
        self.error = None

    def _run(self):
        try:
            self.action()
        except Exception as exc:  # recorded for the test to inspect
            self.error = exc
            raise

    def __float__(self):
        self._run()
        return float(self.value)

    def __index__(self):
        self._run()
        return int(self.value)


@pytest.fixture
def reentrant():
    return Reentrant
