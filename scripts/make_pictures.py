#!/usr/bin/env python3
"""Draws the dialog pictures of resources/images as SVG: the control schemes of the advanced
dialog (the loops that are closed and the sensors they read) and the reference mappings of
the external reference setup. Run it after changing a picture; the SVG files are committed."""

import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "images")
FONT = 'font-family="DejaVu Sans, sans-serif"'
INK = "#1f2d3d"
BLOCK_FILL = "#e8f0fa"
SENSOR_FILL = "#fdf3e1"


def svg(width, height, body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
            f'viewBox="0 0 {width} {height}">\n'
            f'<defs><marker id="arrow" markerWidth="8" markerHeight="8" refX="7" refY="4" '
            f'orient="auto"><path d="M0,0 L8,4 L0,8 z" fill="{INK}"/></marker></defs>\n'
            f'<rect width="{width}" height="{height}" fill="white"/>\n{body}</svg>\n')


def line(points, arrow=True):
    d = " ".join(f"{x},{y}" for x, y in points)
    end = ' marker-end="url(#arrow)"' if arrow else ""
    return f'<polyline points="{d}" fill="none" stroke="{INK}" stroke-width="1.4"{end}/>\n'


def text(x, y, s, anchor="middle", extra="", size=11):
    return (f'<text x="{x}" y="{y}" {FONT} font-size="{size}" fill="{INK}" '
            f'text-anchor="{anchor}" {extra}>{s}</text>\n')


def block(x, y, w, h, lines, fill=BLOCK_FILL):
    out = (f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="4" fill="{fill}" '
           f'stroke="{INK}" stroke-width="1.2"/>\n')
    top = y + h / 2 - (len(lines) - 1) * 6.5 + 4
    for i, s in enumerate(lines):
        out += text(x + w / 2, top + i * 13, s)
    return out


def junction(x, y):
    return (f'<circle cx="{x}" cy="{y}" r="7" fill="white" stroke="{INK}" stroke-width="1.2"/>\n'
            + text(x - 10, y - 8, "+", size=10)
            + text(x + 4, y + 19, "\u2212", anchor="start"))


def scheme(controllers, reference, feedbacks, caption):
    """controllers: names along the chain; feedbacks: per controller, (sensor, signal) where
    the sensor is 'encoder', 'estimator', 'tacho', 'load encoder' or 'current'."""
    axis = 62
    body = text(6, axis - 24, reference, anchor="start", extra='font-style="italic"')
    x = 70
    junctions = []
    body += line([(8, axis), (x - 7, axis)])
    for name in controllers:
        junctions.append(x)
        body += junction(x, axis)
        body += line([(x + 7, axis), (x + 22, axis)])
        body += block(x + 22, axis - 17, 74, 34, name.split("\n"))
        body += line([(x + 96, axis), (x + 114, axis)])
        x += 114
    body += block(x, axis - 17, 58, 34, ["PWM", "stage"])
    body += line([(x + 58, axis), (x + 76, axis)])
    motor_x = x + 76
    body += (f'<circle cx="{motor_x + 20}" cy="{axis}" r="20" fill="{BLOCK_FILL}" stroke="{INK}" '
             f'stroke-width="1.2"/>\n' + text(motor_x + 20, axis + 4, "M"))
    body += line([(motor_x + 40, axis), (motor_x + 104, axis)])
    body += text(motor_x + 106, axis + 4, "load", anchor="start")
    width = motor_x + 140
    sensor_y = axis + 42
    sensor_x = {"current": x + 2, "encoder": motor_x + 2, "tacho": motor_x + 2,
                "load encoder": motor_x + 72}
    drawn = set()
    level = sensor_y + 40
    for i, feedback in reversed(list(enumerate(feedbacks))):
        sensor, signal = feedback
        source = "encoder" if sensor == "estimator" else sensor
        sx = sensor_x[source]
        label = {"current": ["current", "sensor"], "encoder": ["encoder"], "tacho": ["tacho"],
                 "load encoder": ["encoder", "(load)"]}[source]
        if source not in drawn:
            drawn.add(source)
            w = 60
            body += block(sx - 8, sensor_y, w, 30, label, fill=SENSOR_FILL)
            tap = motor_x + 20 if source in ("encoder", "tacho") else sx + 22
            if source == "current":
                body += line([(x + 67, axis), (x + 67, sensor_y - 12), (sx + 22, sensor_y - 12),
                              (sx + 22, sensor_y)], arrow=True)
            elif source == "load encoder":
                body += line([(sx + 22, axis), (sx + 22, sensor_y)])
            else:
                body += line([(tap, axis + 20), (tap, sensor_y)])
        out_x = sx + 22
        jx = junctions[i]
        if sensor == "estimator":
            ex = out_x - 80
            body += block(ex - 30, level - 15, 64, 30, ["speed", "estimator"], fill=SENSOR_FILL)
            body += line([(out_x - 12, sensor_y + 30), (out_x - 12, level), (ex + 34, level)])
            body += line([(ex - 30, level), (jx, level), (jx, axis + 7)])
        else:
            body += line([(out_x, sensor_y + 30), (out_x, level), (jx, level), (jx, axis + 7)])
        body += text(jx + 6, level - 4, signal, anchor="start", extra='font-style="italic"')
        level += 22
    level += 8
    body += text(width / 2, level + 6, caption, extra='fill-opacity="0.8"', size=10)
    return svg(width, level + 14, body)


def reference_mapping(quantity):
    width, height = 300, 170
    left, right, bottom, top = 40, 285, 140, 22
    mid_x = (left + right) / 2
    mid_y = (bottom + top) / 2
    band = 18
    body = line([(left, bottom + 6), (left, top - 6)])
    body += line([(left - 6, mid_y), (right + 8, mid_y)])
    body += text(right + 2, mid_y + 16, "input", anchor="end")
    body += text(left + 6, top - 8, f"{quantity} reference", anchor="start")
    body += (f'<polyline points="{left},{bottom} {mid_x - band},{mid_y + (bottom - mid_y) * band / (mid_x - left)} '
             f'{mid_x - band},{mid_y} {mid_x + band},{mid_y} '
             f'{mid_x + band},{mid_y - (mid_y - top) * band / (right - mid_x)} {right},{top}" '
             f'fill="none" stroke="#1c64b4" stroke-width="2.2"/>\n')
    body += (f'<line x1="{mid_x - band}" y1="{mid_y - 22}" x2="{mid_x + band}" y2="{mid_y - 22}" '
             f'stroke="{INK}" stroke-dasharray="3,2"/>\n')
    body += text(mid_x, mid_y - 26, "dead band")
    for y, s in ((top, f"Maximum {quantity}"), (bottom, f"Minimum {quantity}")):
        body += (f'<line x1="{left}" y1="{y}" x2="{right}" y2="{y}" stroke="{INK}" '
                 f'stroke-opacity="0.35" stroke-dasharray="2,3"/>\n')
    body += text(right - 4, top + 14, f"Maximum {quantity}", anchor="end")
    body += text(left + 6, bottom - 4, f"Minimum {quantity}", anchor="start")
    return svg(width, height, body)


SCHEMES = {
    "3017": (["Position\ncontroller", "Current\ncontroller"], "position ref.",
             [("encoder", "position"), ("current", "current")],
             "Position loop directly over the current loop"),
    "3000": (["Position\ncontroller", "Speed\ncontroller", "Current\ncontroller"], "position ref.",
             [("encoder", "position"), ("estimator", "speed"), ("current", "current")],
             "Position, speed and current loops; speed estimated from the encoder"),
    "3001": (["Position\ncontroller", "Speed\ncontroller", "Current\ncontroller"], "position ref.",
             [("load encoder", "position"), ("tacho", "speed"), ("current", "current")],
             "Position, speed and current loops; speed from the tacho"),
    "3062": (["Speed\ncontroller", "Current\ncontroller"], "speed ref.",
             [("estimator", "speed"), ("current", "current")],
             "Speed and current loops; speed estimated from the encoder"),
    "3016": (["Speed\ncontroller", "Current\ncontroller"], "speed ref.",
             [("tacho", "speed"), ("current", "current")],
             "Speed and current loops; speed from the tacho"),
    "3063": (["Current\ncontroller"], "current ref.", [("current", "current")],
             "Current loop only"),
}

REFERENCES = {"3003": "Position", "3044": "Speed", "3002": "Current"}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, args in SCHEMES.items():
        with open(os.path.join(OUT, name + ".svg"), "w", encoding="utf-8") as f:
            f.write(scheme(*args))
    for name, quantity in REFERENCES.items():
        with open(os.path.join(OUT, name + ".svg"), "w", encoding="utf-8") as f:
            f.write(reference_mapping(quantity))


if __name__ == "__main__":
    main()
