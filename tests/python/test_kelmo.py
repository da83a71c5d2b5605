# The Python package against the kelmo tool: the same photo, points and
# requests must give the same pixels and the same files, bit for bit. Then the
# errors: wrong arrays and failing calls, which change nothing.
import os
import threading
import time

import numpy as np
import pytest

import kelmo

# A muscle from the cheekbone to the mouth corner, as feature points: the file
# form for the tool and for Model.muscle(path), the keyword form below.
MUSCLE_FILE = """attachment feature 36
insertion  feature 3
bound1     feature 62
bound2     feature 11
extension  0.4
strength   0.45
sharpness  1
regions    3
"""


def muscle_keywords(model):
    fp = model.feature_points
    return dict(attachment=fp[36], insertion=fp[3], bound1=fp[62], bound2=fp[11],
                extension=0.4, strength=0.45, sharpness=1, regions=3)


def write_points(path, points):
    path.write_text("".join(f"{int(x)} {int(y)}\n" for x, y in points))
    return path


@pytest.fixture(scope="module")
def created(tool, sample_photo, tmp_path_factory):
    folder = tmp_path_factory.mktemp("tool") / "head"
    tool("create", sample_photo, "-o", folder)
    return folder


@pytest.fixture
def head(lib, sample_photo):
    with lib.create(sample_photo) as model:
        yield model


def test_landmarks_equal_the_tools_points(sample_points, created):
    tool_points = np.loadtxt(created / "points.txt", dtype=np.float32)
    assert sample_points.dtype == np.float32 and sample_points.shape == (66, 2)
    np.testing.assert_array_equal(sample_points, tool_points)


# Each case: what Python makes from the sample photo, and the tool's command
# line (after its input) for the same picture; the tool writes OUT.
def render_plain(lib, photo, points, tmp):
    with lib.create(photo) as m:
        return m.render(size=(320, 240), yaw=30, pitch=-10), ["render", "{created}", "--yaw", "30", "--pitch", "-10",
                                                              "--size", "320x240"]


def render_morphed(lib, photo, points, tmp):
    with lib.create(photo) as m:
        m.morph("smile", 0.8)
        m.morph("jaw_open", 0.3)
        return m.render(size=256, yaw=-20), ["render", "{created}", "--morph", "smile=0.8", "--morph", "jaw_open=0.3",
                                             "--yaw", "-20", "--size", "256x256"]


def render_muscle_keywords(lib, photo, points, tmp):
    with lib.create(photo) as m:
        m.muscle(**muscle_keywords(m))
        return m.render(size=256), ["render", "{created}", "--muscle", "{muscle}", "--size", "256x256"]


def render_muscle_file(lib, photo, points, tmp):
    with lib.create(photo) as m:
        m.muscle(tmp / "cheek.muscle")
        return m.render(size=256), ["render", "{created}", "--muscle", "{muscle}", "--size", "256x256"]


def render_rotated_scaled_copy(lib, photo, points, tmp):
    # The copy keeps the rotation; the view adds to it.
    with lib.create(photo) as m:
        m.rotate(0, 25, 0)
        m.scale(0.8)
        with m.copy() as c:
            return c.render(size=256, yaw=10), ["render", "{created}", "--yaw", "35", "--scale", "0.8",
                                                "--size", "256x256"]


def render_saved_from_array(lib, photo, points, tmp):
    # A head made from pixels in memory and saved: the tool re-creates it.
    pixels = kelmo.load_image(photo)
    with lib.create(pixels, points=points, smile=False, mask=False) as m:
        m.save(tmp / "from_array")
        return m.render(size=256, roll=15, fov=20), ["render", str(tmp / "from_array"), "--roll", "15", "--fov", "20",
                                                     "--size", "256x256"]


def frame_of_rgba_array(lib, photo, points, tmp):
    rgba = kelmo.load_image(photo, alpha=True)
    frame = kelmo.face_frame(rgba, points, (200, 200))
    assert frame.shape == (200, 200, 4)
    return frame, ["frame", photo, "--points", "{points}", "--size", "200"]


def warp_of_texture(lib, photo, points, tmp):
    with lib.create(photo) as m:
        texture = m.texture
    kelmo.save_image(texture, tmp / "texture.png")
    src = np.array([[60, 80], [190, 80], [128, 200]])
    dst = src + np.array([[5, -4], [-6, 3], [0, 9]])
    write_points(tmp / "from.txt", src)
    write_points(tmp / "to.txt", dst)
    return kelmo.warp(texture, src, dst), ["warp", str(tmp / "texture.png"), "--from", str(tmp / "from.txt"),
                                          "--to", str(tmp / "to.txt")]


@pytest.mark.parametrize("case", [render_plain, render_morphed, render_muscle_keywords, render_muscle_file,
                                  render_rotated_scaled_copy, render_saved_from_array, frame_of_rgba_array,
                                  warp_of_texture], ids=lambda f: f.__name__)
def test_pixels_equal_the_tools(case, lib, sample_photo, sample_points, created, tool, tmp_path):
    (tmp_path / "cheek.muscle").write_text(MUSCLE_FILE)
    write_points(tmp_path / "points.txt", sample_points)
    picture, command = case(lib, sample_photo, sample_points, tmp_path)
    out = tmp_path / "tool.png"
    names = dict(created=created, muscle=tmp_path / "cheek.muscle", points=tmp_path / "points.txt")
    tool(command[0], *[word.format(**names) for word in command[1:]], "-o", out)
    expected = kelmo.load_image(out, alpha=True)
    if picture.ndim == 3 and picture.shape[2] == 3:
        expected = expected[:, :, :3]
    assert picture.dtype == np.uint8
    np.testing.assert_array_equal(picture, expected)
    assert (picture[..., :3] != 0).any(), "a blank picture proves nothing"


def test_save_writes_what_kelmo_create_writes(head, created, tmp_path):
    head.save(tmp_path / "saved", format="obj")
    assert not (tmp_path / "saved" / "model.glb").exists()
    head.save(tmp_path / "saved", format="glb")
    names = sorted(os.listdir(created))
    assert sorted(os.listdir(tmp_path / "saved")) == names
    for name in names:
        assert (tmp_path / "saved" / name).read_bytes() == (created / name).read_bytes(), name


def test_copies_and_morphs(head):
    shape = [v for v, _, _ in head.regions]
    with head.copy() as smiling:
        smiling.morph("smile", 0.5)
        smiling.morph("smile", 0.5)
        with head.copy() as once:
            once.morph("smile", 1.0)
            # Morphs add up (converted against the unmorphed head each time).
            for (a, _, _), (b, _, _) in zip(smiling.regions[:3], once.regions[:3]):
                np.testing.assert_allclose(a, b, atol=1e-5)
        assert not np.array_equal(smiling.regions[0][0], shape[0])
    # The original did not move, and the arrays handed out are copies.
    for before, (after, _, _) in zip(shape, head.regions):
        np.testing.assert_array_equal(before, after)
    head.regions[0][0][:] = 0
    np.testing.assert_array_equal(head.regions[0][0], shape[0])


def test_long_calls_let_other_threads_run(head):
    # While a large picture renders in one thread, this one keeps running:
    # no pause here comes near the render's length (it would span all of it
    # if the call held the GIL).
    done = threading.Event()
    worker = threading.Thread(target=lambda: (head.render(size=1600), done.set()))
    start = last = time.perf_counter()
    longest = 0.0
    worker.start()
    while not done.is_set():
        now = time.perf_counter()
        longest, last = max(longest, now - last), now
    worker.join()
    assert longest < (time.perf_counter() - start) / 2


BAD_CALLS = [
    # (call, exception, words the message must name)
    (lambda lib, m, pts: lib.create(np.zeros((64, 64, 3), np.float32), pts), TypeError, "uint8"),
    (lambda lib, m, pts: lib.create(np.zeros((64, 64), np.uint8), pts), ValueError, "(H, W, 3)"),
    (lambda lib, m, pts: lib.create(np.zeros((64, 64, 2), np.uint8), pts), ValueError, "(64, 64, 2)"),
    (lambda lib, m, pts: lib.create(np.zeros((0, 64, 3), np.uint8), pts), ValueError, "H, W >= 1"),
    (lambda lib, m, pts: lib.create(42, pts), TypeError, "file path"),
    (lambda lib, m, pts: lib.create(np.zeros((64, 64, 3), np.uint8), pts[:65]), ValueError, "(66, 2)"),
    (lambda lib, m, pts: lib.create(np.zeros((64, 64, 3), np.uint8), pts.T), ValueError, "(66, 2)"),
    (lambda lib, m, pts: lib.create(np.zeros((64, 64, 3), np.uint8), pts.astype(str)), TypeError, "real numbers"),
    (lambda lib, m, pts: lib.create(np.zeros((64, 64, 3), np.uint8), np.where(pts > 200, np.nan, pts)),
     ValueError, "finite"),
    (lambda lib, m, pts: lib.landmarks(np.zeros((64, 64, 3), np.int16)), TypeError, "int16"),
    (lambda lib, m, pts: m.render(size=(0, 10)), ValueError, "size"),
    (lambda lib, m, pts: m.render(size="big"), TypeError, "size"),
    (lambda lib, m, pts: m.muscle(attachment=[0, 0], insertion=[0, 0, 1], bound1=[1, 0, 0], bound2=[0, 1, 0],
                                  strength=1), ValueError, "attachment must have shape (3,)"),
    (lambda lib, m, pts: m.muscle(attachment=[0, 0, 0], strength=1), ValueError, "insertion"),
    (lambda lib, m, pts: m.save("/nonexistent/never", format="ply"), ValueError, "'glb' or 'obj'"),
    (lambda lib, m, pts: kelmo.warp(np.zeros((8, 8, 3), np.float64), [[1, 1]], [[2, 2]]), TypeError, "uint8"),
    (lambda lib, m, pts: kelmo.warp(np.zeros((8, 8, 3), np.uint8), [[1, 1]], [[2, 2], [3, 3]]),
     ValueError, "same number"),
    (lambda lib, m, pts: kelmo.face_frame(np.zeros((8, 8, 3), np.uint8), pts, size=(64, -1)), ValueError, "size"),
    (lambda lib, m, pts: kelmo.save_image(np.zeros((8, 8, 5), np.uint8), "/tmp/never.png"), ValueError, "(H, W)"),
]


def test_bad_arrays_are_refused(lib, head, sample_points):
    shape = [v for v, _, _ in head.regions]
    for k, (call, error, words) in enumerate(BAD_CALLS):
        with pytest.raises(error) as raised:
            call(lib, head, sample_points)
        assert words in str(raised.value), f"case {k}: {raised.value}"
    for before, (after, _, _) in zip(shape, head.regions):
        np.testing.assert_array_equal(before, after)


def test_failing_calls_raise_kelmo_error(lib, head, tmp_path):
    cases = [
        # (call, status, words of the message)
        (lambda: kelmo.Library(), -1, "already open"),
        (lambda: lib.landmarks(np.full((120, 160, 3), 128, np.uint8)), -1, "no face"),
        (lambda: lib.landmarks(str(tmp_path / "missing.png")), -104, "no such file"),
        (lambda: head.morph("no_such_morph"), -1, "smile"),
        (lambda: head.muscle(attachment=[0, 0, 0], insertion=[0, 0, 0], bound1=[1, 0, 0], bound2=[0, 1, 0],
                             strength=1), -1, "degenerate"),
        # The library's own status comes through: too large for the warp.
        (lambda: kelmo.warp(np.zeros((1100, 1100), np.uint8), [], []), -1, "cannot warp"),
        # The imaging library's status comes through too: no such format.
        (lambda: kelmo.save_image(np.zeros((4, 4, 3), np.uint8), tmp_path / "picture.gif"), -105, "cannot write"),
        (lambda: kelmo.load_image(__file__), -105, "cannot read"),
    ]
    for k, (call, status, words) in enumerate(cases):
        with pytest.raises(kelmo.KelmoError) as raised:
            call()
        assert raised.value.status == status and words in str(raised.value), f"case {k}: {raised.value}"

    head.close()
    with pytest.raises(kelmo.KelmoError) as raised:
        head.render()
    assert raised.value.status == -4
