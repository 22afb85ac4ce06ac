#!/usr/bin/python3
"""Draws the installer's pictures into res/: the two 500 x 310 page backgrounds (24-bit
BMP) and the application icon (16, 24, 32, 48 and 64 pixels in 32-bit colour and a
256-pixel PNG). Change the drawing here and run it again; the results are committed.

Usage: tools/make_images.py [output-folder]   (default: res/ next to this script)
"""
import io
import math
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFilter

WIDTH, HEIGHT = 500, 310
SCALE = 4  # drawn large and scaled down, for smooth edges
TOP = (208, 56, 56)
BOTTOM = (155, 8, 8)
BAND_ROW = 216  # the progress page's white band starts here
FRAME = (140, 94, 184)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def gradient(width, height, rows=None):
    """The red vertical gradient; rows limits it to the first rows (the rest white)."""
    image = Image.new("RGB", (width, height), (255, 255, 255))
    draw = ImageDraw.Draw(image)
    for y in range(rows if rows is not None else height):
        draw.line([(0, y), (width - 1, y)], fill=mix(TOP, BOTTOM, y / (height - 1)))
    return image


def overlay(base, painter):
    """Runs painter(draw, scale) on a transparent layer SCALE times larger and blends it in."""
    layer = Image.new("RGBA", (base.width * SCALE, base.height * SCALE), (0, 0, 0, 0))
    painter(ImageDraw.Draw(layer), SCALE)
    layer = layer.resize(base.size, Image.LANCZOS)
    result = base.convert("RGBA")
    result.alpha_composite(layer)
    return result.convert("RGB")


def product_mark(draw, s, cx, cy, radius, colour, width):
    """A ring around a rising chart line with an arrow head: the product's mark."""
    r = radius * s
    draw.ellipse([cx * s - r, cy * s - r, cx * s + r, cy * s + r], outline=colour, width=width * s)
    points = [(-0.62, 0.38), (-0.28, -0.02), (0.0, 0.22), (0.5, -0.42)]
    line = [((cx + px * radius) * s, (cy + py * radius) * s) for px, py in points]
    draw.line(line, fill=colour, width=width * s, joint="curve")
    tip = line[-1]
    head = radius * 0.30 * s
    draw.polygon([tip, (tip[0] - head, tip[1] + head * 0.15), (tip[0] - head * 0.15, tip[1] + head)], fill=colour)


def hills(draw, s, width, height):
    """Rows of soft hills along the bottom edge, darker towards the front."""
    layers = [
        (48, 26, 0.011, 0.6, (120, 4, 4, 110)),
        (34, 18, 0.017, 2.1, (105, 0, 0, 150)),
        (20, 11, 0.025, 4.0, (88, 0, 0, 190)),
    ]
    for base, amplitude, frequency, phase, colour in layers:
        outline = []
        for x in range(0, width * s + 1, s):
            px = x / s
            y = height - base - amplitude * (0.6 * math.sin(px * frequency + phase) + 0.4 * math.sin(px * frequency * 2.3 + phase * 1.7))
            outline.append((x, y * s))
        draw.polygon(outline + [(width * s, height * s), (0, height * s)], fill=colour)


def start_background():
    image = gradient(WIDTH, HEIGHT)

    def paint(draw, s):
        product_mark(draw, s, WIDTH / 2, 74, 46, (255, 255, 255, 34), 5)
        hills(draw, s, WIDTH, HEIGHT)

    return overlay(image, paint)


def rocket(draw, s, x, y, size):
    """A rocket flying up and to the right, with its flame and a few stars; (x, y) is its centre."""
    angle = math.radians(40)  # lean to the right

    def place(points):
        out = []
        for px, py in points:
            rx = px * math.cos(angle) - py * math.sin(angle)
            ry = px * math.sin(angle) + py * math.cos(angle)
            out.append(((x + rx * size) * s, (y + ry * size) * s))
        return out

    flame_outer = [(-0.16, 0.48), (0.16, 0.48), (0.0, 0.95)]
    flame_inner = [(-0.09, 0.48), (0.09, 0.48), (0.0, 0.76)]
    draw.polygon(place(flame_outer), fill=(255, 170, 60, 235))
    draw.polygon(place(flame_inner), fill=(255, 236, 150, 255))
    fin_left = [(-0.17, 0.12), (-0.36, 0.42), (-0.36, 0.55), (-0.15, 0.40)]
    fin_right = [(0.17, 0.12), (0.36, 0.42), (0.36, 0.55), (0.15, 0.40)]
    draw.polygon(place(fin_left), fill=(120, 10, 14, 255))
    draw.polygon(place(fin_right), fill=(120, 10, 14, 255))
    body = []
    for i in range(0, 181, 6):  # the nose: half an ellipse
        t = math.radians(i)
        body.append((-0.18 * math.cos(t), -0.22 - 0.40 * math.sin(t)))
    body += [(0.18, 0.44), (-0.18, 0.44)]
    body = [body[-1]] + body[:-1]
    draw.polygon(place(body), fill=(246, 246, 250, 255))
    draw.polygon(place([(-0.18, 0.34), (0.18, 0.34), (0.18, 0.44), (-0.18, 0.44)]), fill=(200, 200, 212, 255))
    centre = place([(0.0, -0.14)])[0]
    for radius, colour in ((0.105, (120, 10, 14, 255)), (0.075, (120, 190, 240, 255))):
        r = radius * size * s
        draw.ellipse([centre[0] - r, centre[1] - r, centre[0] + r, centre[1] + r], fill=colour)
    for sx, sy, r in ((30, 40, 2.0), (150, 30, 1.6), (165, 120, 2.2), (22, 150, 1.4), (118, 185, 1.8), (60, 200, 1.2)):
        draw.ellipse([(sx - r) * s, (sy - r) * s, (sx + r) * s, (sy + r) * s], fill=(255, 255, 255, 200))
    for i, (dx, dy) in enumerate(((-0.55, 0.85), (-0.72, 0.70), (-0.40, 1.00))):
        tail = place([(dx * 0.3, 0.9 + i * 0.05)])[0]
        r = (6 - i) * s
        draw.ellipse([tail[0] - r, tail[1] - r, tail[0] + r, tail[1] + r], fill=(255, 255, 255, 70))


def progress_background():
    image = gradient(WIDTH, HEIGHT, rows=BAND_ROW)

    def paint(draw, s):
        rocket(draw, s, 96, 104, 112)

    image = overlay(image, paint)
    # The white band stays clean: the rocket's glow must not bleed into it.
    ImageDraw.Draw(image).rectangle([0, BAND_ROW, WIDTH - 1, HEIGHT - 1], fill=(255, 255, 255))
    ImageDraw.Draw(image).rectangle([0, 0, WIDTH - 1, HEIGHT - 1], outline=FRAME)
    return image


def icon_image(size):
    big = 512
    image = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    fill = gradient(big, big).convert("RGBA")
    mask = Image.new("L", (big, big), 0)
    ImageDraw.Draw(mask).rounded_rectangle([8, 8, big - 9, big - 9], radius=104, fill=255)
    image.paste(fill, (0, 0), mask)
    draw = ImageDraw.Draw(image)
    product_mark(draw, 1, big / 2, big / 2, big * 0.34, (255, 255, 255, 255), max(14, big // 20))
    return image.resize((size, size), Image.LANCZOS)


def bmp_icon_entry(image):
    """An icon directory entry's image as a 32-bit DIB: header, BGRA rows bottom up, AND mask."""
    size = image.width
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b, a = image.getpixel((x, y))
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(size):
            if image.getpixel((x, y))[3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + bytes(pixels) + bytes(mask)


def write_icon(path):
    entries = []
    for size in (16, 24, 32, 48, 64):
        entries.append((size, bmp_icon_entry(icon_image(size))))
    png = io.BytesIO()
    icon_image(256).save(png, "PNG")
    entries.append((256, png.getvalue()))
    offset = 6 + 16 * len(entries)
    directory = struct.pack("<HHH", 0, 1, len(entries))
    data = b""
    for size, blob in entries:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset + len(data))
        data += blob
    with open(path, "wb") as out:
        out.write(directory + data)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res")
    os.makedirs(folder, exist_ok=True)
    start_background().save(os.path.join(folder, "start_background.bmp"))
    progress_background().save(os.path.join(folder, "progress_background.bmp"))
    write_icon(os.path.join(folder, "morvantis.ico"))


if __name__ == "__main__":
    main()
