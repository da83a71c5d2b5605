# Types of the extension module (the docstrings are in the module itself).
import os
from types import TracebackType
from typing import Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

Photo = Union[str, os.PathLike[str], npt.NDArray[np.uint8]]
Points = npt.ArrayLike
Size = Union[int, Tuple[int, int]]
Vector = Sequence[float]

class KelmoError(Exception):
    status: int

class UnsupportedError(KelmoError, NotImplementedError): ...

class Library:
    def __init__(self, data_dir: Optional[str] = None, shape_predictor: Optional[str] = None) -> None: ...
    @property
    def data_dir(self) -> str: ...
    @property
    def closed(self) -> bool: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Library": ...
    def __exit__(
        self,
        exc_type: Optional[type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None: ...
    def landmarks(self, photo: Photo, face: Optional[int] = None) -> npt.NDArray[np.float32]: ...
    def create(
        self,
        photo: Photo,
        points: Optional[Points] = None,
        smile: bool = True,
        open_mouth: bool = True,
        mask: bool = True,
        face_only: bool = False,
        generic_teeth: bool = False,
        face: Optional[int] = None,
    ) -> "Model": ...

class Model:
    @property
    def regions(
        self,
    ) -> list[Tuple[npt.NDArray[np.float32], npt.NDArray[np.int32], npt.NDArray[np.float32]]]: ...
    @property
    def texture(self) -> npt.NDArray[np.uint8]: ...
    @property
    def feature_points(self) -> npt.NDArray[np.float32]: ...
    @property
    def rotation(self) -> Tuple[float, float, float]: ...
    @property
    def scale_factors(self) -> Tuple[float, float, float]: ...
    @property
    def closed(self) -> bool: ...
    def rotate(self, x: float = 0.0, y: float = 0.0, z: float = 0.0) -> None: ...
    def scale(self, x: float, y: Optional[float] = None, z: Optional[float] = None) -> None: ...
    def morph(self, name_or_vertex_file: str, weight: float = 1.0) -> None: ...
    def muscle(
        self,
        path: Optional[Union[str, os.PathLike[str]]] = None,
        *,
        attachment: Optional[Vector] = None,
        insertion: Optional[Vector] = None,
        bound1: Optional[Vector] = None,
        bound2: Optional[Vector] = None,
        strength: Optional[float] = None,
        extension: float = 0.5,
        sharpness: float = 1.0,
        regions: int = 3,
    ) -> None: ...
    def render(
        self,
        size: Size = (512, 512),
        yaw: float = 0.0,
        pitch: float = 0.0,
        roll: float = 0.0,
        fov: float = 1.0,
    ) -> npt.NDArray[np.uint8]: ...
    def save(self, dir: Union[str, os.PathLike[str]], format: str = "obj") -> None: ...
    def copy(self) -> "Model": ...
    def close(self) -> None: ...
    def __enter__(self) -> "Model": ...
    def __exit__(
        self,
        exc_type: Optional[type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None: ...

def warp(image: npt.NDArray[np.uint8], src_points: Points, dst_points: Points) -> npt.NDArray[np.uint8]: ...
def face_frame(photo: Photo, points: Points, size: Size = 256) -> npt.NDArray[np.uint8]: ...
def load_image(path: Union[str, os.PathLike[str]], alpha: bool = False) -> npt.NDArray[np.uint8]: ...
def save_image(image: npt.NDArray[np.uint8], path: Union[str, os.PathLike[str]]) -> None: ...
def _live_handles() -> Tuple[int, int]: ...
