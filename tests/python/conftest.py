# Shared fixtures of the Python package's tests: one open library for the
# whole run (a process holds one at a time), the sample photo, the kelmo
# tool as the oracle, and a check that no test leaves a handle behind.
import os
import subprocess

import pytest

import kelmo


@pytest.fixture(scope="session")
def sample_photo():
    return os.environ["KELMO_SAMPLE_PHOTO"]


@pytest.fixture(scope="session")
def lib():
    with kelmo.Library() as library:
        yield library


@pytest.fixture(scope="session")
def sample_points(lib, sample_photo):
    return lib.landmarks(sample_photo)


@pytest.fixture(scope="session")
def tool():
    """Runs the kelmo tool; fails the test with its output when it fails."""

    def run(*args):
        result = subprocess.run([os.environ["KELMO_TOOL"], *map(str, args)], capture_output=True, text=True)
        assert result.returncode == 0, f"kelmo {' '.join(map(str, args))}: {result.stdout}{result.stderr}"

    return run


@pytest.fixture(scope="session", autouse=True)
def shared_images_loaded():
    # Finalising the library keeps its shared images (teeth, mouth) for the
    # next initialisation: open it once so that they are there from the start.
    kelmo.Library().close()


@pytest.fixture(autouse=True)
def no_leaked_handles(shared_images_loaded):
    before = kelmo._live_handles()
    yield
    assert kelmo._live_handles() == before, "a model or an image handle was left behind"
