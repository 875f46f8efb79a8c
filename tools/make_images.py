#!/usr/bin/env python3
"""Draws the program's icon (res/app.ico) and the About box picture (res/about.bmp).

The pictures are described as a few vector shapes in unit coordinates and rasterised here with
supersampling, so that every icon size is drawn from the same picture and the output is exactly
reproducible. Standard library only; run it from anywhere:

    python3 tools/make_images.py
"""

import os
import struct

ICON_SIZES = (256, 128, 64, 48, 32, 24, 16)
ABOUT_WIDTH, ABOUT_HEIGHT = 200, 56


def hex_colour(text, alpha=1.0):
    text = text.lstrip("#")
    return (int(text[0:2], 16) / 255, int(text[2:4], 16) / 255, int(text[4:6], 16) / 255, alpha)


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


# --- Shapes: each knows its bounding box and whether a point lies inside. ---------------------


class RoundRect:
    def __init__(self, x0, y0, x1, y1, radius):
        self.box = (x0, y0, x1, y1)
        self.radius = min(radius, (x1 - x0) / 2, (y1 - y0) / 2)

    def inside(self, x, y):
        x0, y0, x1, y1 = self.box
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        r = self.radius
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


class Circle:
    def __init__(self, cx, cy, radius):
        self.centre = (cx, cy)
        self.radius = radius
        self.box = (cx - radius, cy - radius, cx + radius, cy + radius)

    def inside(self, x, y):
        cx, cy = self.centre
        return (x - cx) ** 2 + (y - cy) ** 2 <= self.radius**2


class Polygon:
    def __init__(self, points):
        self.points = points
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.box = (min(xs), min(ys), max(xs), max(ys))

    def inside(self, x, y):
        x0, y0, x1, y1 = self.box
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        result = False
        points = self.points
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result

    def grown(self, amount):
        """The outline pushed outwards by roughly `amount`, for a border drawn underneath."""
        cx = sum(p[0] for p in self.points) / len(self.points)
        cy = sum(p[1] for p in self.points) / len(self.points)
        grown = []
        for x, y in self.points:
            dx, dy = x - cx, y - cy
            length = (dx * dx + dy * dy) ** 0.5 or 1.0
            grown.append((x + dx / length * amount, y + dy / length * amount))
        return Polygon(grown)


class Layer:
    """A shape filled with a colour, or a vertical gradient between two colours."""

    def __init__(self, shape, top, bottom=None):
        self.shape = shape
        self.top = top
        self.bottom = bottom if bottom is not None else top

    def colour_at(self, y):
        if self.top == self.bottom:
            return self.top
        y0, y1 = self.shape.box[1], self.shape.box[3]
        t = 0.0 if y1 <= y0 else min(max((y - y0) / (y1 - y0), 0.0), 1.0)
        return mix(self.top, self.bottom, t)


def over(dst, src):
    """Composites the non-premultiplied colour `src` over `dst`."""
    sa = src[3]
    da = dst[3] * (1 - sa)
    alpha = sa + da
    if alpha <= 0:
        return (0.0, 0.0, 0.0, 0.0)
    return tuple((src[k] * sa + dst[k] * da) / alpha for k in range(3)) + (alpha,)


def render(layers, width, height, samples, background=(0.0, 0.0, 0.0, 0.0), origin=(0, 0),
           scale=None):
    """Rasterises the layers; unit coordinates span `scale` pixels from `origin`."""
    scale = scale or width
    ox, oy = origin
    pixels = []
    step = 1.0 / samples
    for py in range(height):
        row = []
        for px in range(width):
            # Only the layers whose box touches this pixel take part.
            ux0, uy0 = (px - ox) / scale, (py - oy) / scale
            ux1, uy1 = (px + 1 - ox) / scale, (py + 1 - oy) / scale
            active = [
                layer
                for layer in layers
                if layer.shape.box[0] <= ux1 and layer.shape.box[2] >= ux0
                and layer.shape.box[1] <= uy1 and layer.shape.box[3] >= uy0
            ]
            total = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) * step - ox) / scale
                    y = (py + (sy + 0.5) * step - oy) / scale
                    colour = background
                    for layer in active:
                        if layer.shape.inside(x, y):
                            colour = over(colour, layer.colour_at(y))
                    # Premultiplied sums average correctly across transparent samples.
                    total[0] += colour[0] * colour[3]
                    total[1] += colour[1] * colour[3]
                    total[2] += colour[2] * colour[3]
                    total[3] += colour[3]
            count = samples * samples
            alpha = total[3] / count
            if alpha > 0:
                row.append((total[0] / total[3], total[1] / total[3], total[2] / total[3], alpha))
            else:
                row.append((0.0, 0.0, 0.0, 0.0))
        pixels.append(row)
    return pixels


# --- The tester: a handheld USB-C power meter with its plug and a lightning bolt on screen. ------

OUTLINE = hex_colour("0c1630")
BODY_TOP, BODY_BOTTOM = hex_colour("3569c4"), hex_colour("1b3a7a")
BEZEL = hex_colour("0a1020")
SCREEN_TOP, SCREEN_BOTTOM = hex_colour("5fe3d6"), hex_colour("1f9aa3")
BOLT = hex_colour("ffd21f")
BOLT_EDGE = hex_colour("7a4a00")
METAL_TOP, METAL_BOTTOM = hex_colour("f2f4f7"), hex_colour("9aa3ad")
SLOT = hex_colour("2a2f36")
KEY_TOP, KEY_BOTTOM = hex_colour("e9eef6"), hex_colour("aeb8c6")


def bolt(cx, top, height):
    """A lightning bolt `height` tall, centred on `cx`, from `top` down."""
    w = height * 0.7
    shape = [
        (0.62, 0.00), (0.08, 0.58), (0.44, 0.58), (0.30, 1.00),
        (0.92, 0.36), (0.55, 0.36), (0.78, 0.00),
    ]
    return Polygon([(cx + (x - 0.5) * w, top + y * height) for x, y in shape])


def tester_layers(small):
    """The icon picture. Small sizes leave out the keys and make the bolt fill the screen."""
    layers = [
        # The USB-C plug sticking out of the top, drawn first so that the body covers its root.
        Layer(RoundRect(0.345, 0.015, 0.655, 0.235, 0.07), OUTLINE),
        Layer(RoundRect(0.365, 0.035, 0.635, 0.235, 0.055), METAL_TOP, METAL_BOTTOM),
        Layer(RoundRect(0.415, 0.085, 0.585, 0.145, 0.03), SLOT),
        # The body with its dark outline.
        Layer(RoundRect(0.135, 0.175, 0.865, 0.985, 0.13), OUTLINE),
        Layer(RoundRect(0.16, 0.20, 0.84, 0.96, 0.11), BODY_TOP, BODY_BOTTOM),
        # A soft highlight along the body's upper half.
        Layer(RoundRect(0.19, 0.225, 0.81, 0.42, 0.09), (1, 1, 1, 0.10)),
    ]
    if small:
        layers += [
            Layer(RoundRect(0.22, 0.27, 0.78, 0.90, 0.06), BEZEL),
            Layer(RoundRect(0.26, 0.31, 0.74, 0.86, 0.04), SCREEN_TOP, SCREEN_BOTTOM),
        ]
        shape = bolt(0.5, 0.33, 0.51)
        layers += [Layer(shape.grown(0.035), BOLT_EDGE), Layer(shape, BOLT)]
    else:
        layers += [
            Layer(RoundRect(0.235, 0.275, 0.765, 0.705, 0.05), BEZEL),
            Layer(RoundRect(0.265, 0.305, 0.735, 0.675, 0.035), SCREEN_TOP, SCREEN_BOTTOM),
            # Glare across the screen's top.
            Layer(RoundRect(0.28, 0.315, 0.72, 0.40, 0.025), (1, 1, 1, 0.18)),
        ]
        shape = bolt(0.5, 0.33, 0.32)
        layers += [Layer(shape.grown(0.018), BOLT_EDGE), Layer(shape, BOLT)]
        for cx in (0.36, 0.64):
            layers += [
                Layer(Circle(cx, 0.825, 0.062), OUTLINE),
                Layer(Circle(cx, 0.825, 0.05), KEY_TOP, KEY_BOTTOM),
            ]
    return layers


# --- A 5 x 7 pixel font for the About picture's lettering. -------------------------------------

GLYPHS = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "W": ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    " ": ["00000"] * 7,
}


def text_layers(text, left, top, cell, colour, pitch=6, weight=1.0):
    """One layer per lit font pixel; `cell` is the font pixel's size in units, and a `weight`
    above 1 widens each pixel to the right for a bolder face."""
    layers = []
    for index, letter in enumerate(text):
        for row, bits in enumerate(GLYPHS[letter]):
            for column, bit in enumerate(bits):
                if bit == "1":
                    x = left + (index * pitch + column) * cell
                    y = top + row * cell
                    layers.append(Layer(RoundRect(x, y, x + cell * weight, y + cell, 0), colour))
    return layers


def text_width(text, cell, pitch=6):
    return (len(text) * pitch - 1) * cell


# --- File formats. -------------------------------------------------------------------------------


def to_byte(value):
    return max(0, min(255, int(round(value * 255))))


def icon_image(pixels):
    """One icon image as a 32-bit DIB: header with doubled height, BGRA rows and the AND mask."""
    size = len(pixels)
    mask_stride = ((size + 31) // 32) * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(pixels):  # DIB rows run bottom-up
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            colour += bytes((to_byte(b), to_byte(g), to_byte(r), to_byte(a)))
            if to_byte(a) < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colour) + len(mask),
                         0, 0, 0, 0)
    return header + colour + mask


def write_icon(path, images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = bytearray()
    data = bytearray()
    for size, image in images:
        dimension = 0 if size >= 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1, 32, len(image),
                               offset + len(data))
        data += image
    with open(path, "wb") as file:
        file.write(directory + entries + data)


def write_bitmap(path, pixels):
    """A 24-bit uncompressed bottom-up BMP file."""
    height = len(pixels)
    width = len(pixels[0])
    stride = (width * 3 + 3) & ~3
    rows = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b, _ in row:
            line += bytes((to_byte(b), to_byte(g), to_byte(r)))
        line += bytes(stride - len(line))
        rows += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    with open(path, "wb") as file:
        file.write(file_header + info + rows)


def about_pixels():
    """The About picture: the tester on a blue band with the product name beside it."""
    left, right = hex_colour("10234d"), hex_colour("2a6fb8")
    # The band is a horizontal gradient, drawn as thin vertical strips.
    strips = 50
    aspect = ABOUT_WIDTH / ABOUT_HEIGHT
    layers = []
    for i in range(strips):
        x0 = i / strips * aspect
        x1 = (i + 1) / strips * aspect + 0.001
        layers.append(Layer(RoundRect(x0, 0, x1, 1, 0), mix(left, right, i / (strips - 1))))
    # The tester, 48 pixels tall, at the left.
    icon_scale = 48 / ABOUT_HEIGHT
    icon_left, icon_top = 6 / ABOUT_HEIGHT, 4 / ABOUT_HEIGHT
    for layer in tester_layers(False):
        layer.shape = scaled(layer.shape, icon_left, icon_top, icon_scale)
        layers.append(layer)
    # A yellow rule under the name, echoing the bolt.
    unit = 1 / ABOUT_HEIGHT
    text_left = 66 * unit
    big = 3 * unit
    layers += text_layers("VIVAD", text_left, 7 * unit, big, hex_colour("ffffff"), weight=1.67)
    layers.append(Layer(RoundRect(text_left, 31 * unit, text_left + text_width("VIVAD", big) + 0.67 * big,
                                  33 * unit, 0), hex_colour("ffd21f")))
    layers += text_layers("FIRMWARE UPDATER", text_left, 39 * unit, unit * 1.2,
                          hex_colour("bfe8ff"))
    return render(layers, ABOUT_WIDTH, ABOUT_HEIGHT, 3, scale=ABOUT_HEIGHT)


def scaled(shape, left, top, scale):
    """The shape moved into the box of side `scale` at (left, top)."""
    if isinstance(shape, RoundRect):
        x0, y0, x1, y1 = shape.box
        return RoundRect(left + x0 * scale, top + y0 * scale, left + x1 * scale,
                         top + y1 * scale, shape.radius * scale)
    if isinstance(shape, Circle):
        cx, cy = shape.centre
        return Circle(left + cx * scale, top + cy * scale, shape.radius * scale)
    return Polygon([(left + x * scale, top + y * scale) for x, y in shape.points])


def main():
    res = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "res")
    images = []
    for size in ICON_SIZES:
        # Fewer samples for the large sizes keep the run short; their edges span more pixels.
        samples = 3 if size >= 128 else 6
        pixels = render(tester_layers(size <= 24), size, size, samples)
        images.append((size, icon_image(pixels)))
    write_icon(os.path.join(res, "app.ico"), images)
    write_bitmap(os.path.join(res, "about.bmp"), about_pixels())


if __name__ == "__main__":
    main()
