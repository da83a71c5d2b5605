# The life of a library and its models, in a process of its own (a process
# holds one open library at a time): handles come back whatever the way a
# model goes, and a closed library frees what it made.
import gc
import os

import numpy as np
import pytest

import kelmo


def test_functions_that_need_the_library_say_so(sample_photo):
    image = np.zeros((16, 16, 3), np.uint8)
    for call in (lambda: kelmo.warp(image, [[1, 1]], [[2, 2]]),
                 lambda: kelmo.face_frame(image, np.zeros((66, 2)), 32)):
        with pytest.raises(kelmo.KelmoError, match="needs an open kelmo.Library"):
            call()
    with pytest.raises(kelmo.KelmoError, match="not a kelmo data directory"):
        kelmo.Library(data_dir="/nonexistent")


# Fewer in the sanitizer build, where one creation takes ten times as long.
CYCLES = int(os.environ.get("KELMO_LIFECYCLE_CYCLES", "1000"))


def test_create_and_free_a_thousand_times(sample_photo):
    with kelmo.Library() as lib:
        # The face alone and no mask: the quickest creation.
        photo = kelmo.load_image(sample_photo)
        points = lib.landmarks(photo)
        (left, top), (right, bottom) = points.min(0).astype(int) - 40, points.max(0).astype(int) + 40
        photo, points = np.ascontiguousarray(photo[top:bottom, left:right]), points - [left, top]
        idle = kelmo._live_handles()
        for k in range(CYCLES):
            model = lib.create(photo, points=points, mask=False)
            assert kelmo._live_handles() != idle
            # Every way out: close(), the context's end, collection.
            if k % 3 == 0:
                model.close()
            elif k % 3 == 1:
                with model:
                    pass
            del model
            if k % 100 == 0:
                assert kelmo._live_handles() == idle, f"cycle {k}"
        gc.collect()
        assert kelmo._live_handles() == idle


def test_closing_the_library_frees_its_models(sample_photo):
    before = kelmo._live_handles()
    lib = kelmo.Library()
    points = lib.landmarks(sample_photo)
    models = [lib.create(sample_photo, points=points) for _ in range(3)]
    models.append(models[0].copy())
    lib.close()
    assert all(m.closed for m in models) and lib.closed
    with pytest.raises(kelmo.KelmoError, match="closed"):
        models[1].render()
    # A new library may open, and the old models never free its handles.
    with kelmo.Library() as again:
        fresh = again.create(sample_photo, points=points)
        del models
        gc.collect()
        assert not fresh.closed and fresh.render(size=64)[..., 3].any()
        fresh.close()
    assert kelmo._live_handles() == before
