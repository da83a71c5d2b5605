"""Kelmo from Python: a textured 3D head from one frontal face photo, with
NumPy arrays in and out.

    import kelmo
    with kelmo.Library() as lib:
        head = lib.create("photo.jpg")
        kelmo.save_image(head.render(size=(512, 512), yaw=30), "turned.png")

See help(kelmo.Library) and help(kelmo.Model).
"""

from ._kelmo import (
    KelmoError as KelmoError,
    Library as Library,
    Model as Model,
    UnsupportedError as UnsupportedError,
    face_frame as face_frame,
    load_image as load_image,
    save_image as save_image,
    warp as warp,
)
from ._kelmo import _live_handles as _live_handles
from ._settings import VERSION as __version__

__all__ = [
    "KelmoError",
    "Library",
    "Model",
    "UnsupportedError",
    "face_frame",
    "load_image",
    "save_image",
    "warp",
]
