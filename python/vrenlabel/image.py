"""Pictures to the 1-bit raster of the bitmap commands, with Pillow.

A raster is `height` rows of (width + 7) // 8 bytes, top row first, most
significant bit leftmost, 1 a printed dot. Grey becomes a pattern of dots
(Floyd-Steinberg dithering, Pillow's own) or, without dithering, black below
a threshold and white from it on.
"""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import TYPE_CHECKING, Union

from .errors import ArgumentError, ImageError, Result

if TYPE_CHECKING:
    from PIL import Image

ImageSource = Union["Image.Image", str, "os.PathLike[str]"]


@dataclass(frozen=True)
class Raster:
    width: int
    height: int
    data: bytes

    @property
    def bytes_per_row(self) -> int:
        return (self.width + 7) // 8


def _open(source: ImageSource) -> Image.Image:
    from PIL import Image, UnidentifiedImageError

    if isinstance(source, Image.Image):
        return source
    try:
        with Image.open(source) as opened:
            opened.load()
            return opened
    except UnidentifiedImageError as error:
        raise ImageError(f"{os.fspath(source)}: not an image Pillow reads ({error})",
                         code=Result.VREN_E_IMAGE_FORMAT) from None
    except OSError as error:
        raise ImageError(f"{os.fspath(source)}: {error.strerror or error}", code=Result.VREN_E_IMAGE_OPEN) from None


def _grey(image: Image.Image) -> Image.Image:
    """The picture in grey, upright as a camera's EXIF data says, with
    transparent parts white (paper)."""
    from PIL import Image, ImageOps

    image = ImageOps.exif_transpose(image)
    if image.mode in ("RGBA", "LA", "PA") or (image.mode == "P" and "transparency" in image.info):
        rgba = image.convert("RGBA")
        paper = Image.new("RGBA", rgba.size, (255, 255, 255, 255))
        image = Image.alpha_composite(paper, rgba)
    return image.convert("L")


def to_raster(source: ImageSource, width: int | None = None, dither: bool = True, threshold: int = 128) -> Raster:
    """Scales `source` (a Pillow image or a file Pillow reads) to `width` dots
    (None: its own width), keeping the aspect ratio, and makes it 1 bit."""
    from PIL import Image, ImageOps

    if width is not None and (not isinstance(width, int) or width < 1):
        raise ArgumentError(f"width: expected a positive number of dots, got {width!r}")
    if not 0 <= threshold <= 256:
        raise ArgumentError(f"threshold: expected 0 to 256, got {threshold!r}")
    grey = _grey(_open(source))
    if grey.width < 1 or grey.height < 1:
        raise ImageError("the image has no pixels", code=Result.VREN_E_IMAGE_FORMAT)
    if width is not None and width != grey.width:
        height = max(1, round(grey.height * width / grey.width))
        grey = grey.resize((width, height), Image.Resampling.LANCZOS)
    if dither:
        # Inverted, so that a 1 bit of Pillow's mode "1" is a dot; rows are
        # padded with 0 bits, which print nothing.
        bits = ImageOps.invert(grey).convert("1", dither=Image.Dither.FLOYDSTEINBERG)
    else:
        bits = grey.point(lambda value: 255 if value < threshold else 0).convert("1", dither=Image.Dither.NONE)
    return Raster(bits.width, bits.height, bits.tobytes())
