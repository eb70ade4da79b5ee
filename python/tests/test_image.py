"""Pictures to rasters: scaling and row padding, and a photo printed as grey
tones rather than a black rectangle."""

from __future__ import annotations

from pathlib import Path

from conftest import VirtualPrinter
from PIL import Image, ImageDraw

from vrenlabel import Paper, Printer, to_raster


def test_raster_is_scaled_and_rows_are_padded_with_blank_bits() -> None:
    raster = to_raster(Image.new("L", (100, 50), 0), width=20)
    assert (raster.width, raster.height) == (20, 10)
    assert raster.data == b"\xff\xff\xf0" * 10
    assert to_raster(Image.new("RGB", (9, 2), "white")).data == b"\0\0" * 2


def black_share(picture: Image.Image, box: tuple[int, int, int, int]) -> float:
    patch = picture.crop(box)
    return sum(1 for value in patch.getdata() if value == 0) / (patch.width * patch.height)


def test_dithered_photo_prints_grey(printer: Printer, vprinter: VirtualPrinter, tmp_path: Path) -> None:
    # A photo-like picture: a gradient with a mid-grey disc, saved as JPEG.
    photo = Image.linear_gradient("L").resize((200, 150)).convert("RGB")
    ImageDraw.Draw(photo).ellipse((50, 30, 150, 130), fill=(128, 128, 128))
    photo.save(tmp_path / "photo.jpg", quality=90)

    printer.settings(paper=Paper(800, 300))
    printer.print_image(tmp_path / "photo.jpg", 0, 0, width=400)
    printer.print_image(tmp_path / "photo.jpg", 400, 0, width=400, dither=False, threshold=100)
    printer.print_label()
    label = Image.open(vprinter.labels(1)[0])
    # The disc's middle at twice the photo's size: grey dots when dithered,
    # blank when cut at a threshold below its grey.
    assert 0.2 <= black_share(label, (160, 120, 240, 200)) <= 0.8
    assert black_share(label, (560, 120, 640, 200)) == 0
