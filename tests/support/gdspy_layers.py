"""Per-layer views of GDSII files as gdspy reads them, for tests that use
gdspy as an independent reader and writer.

    gdspy_layers.py compare A B   per layer of A or B: the flattened
                                  polygons of both files' top cells, in A's
                                  database unit, compared as canonical rings,
                                  and where they differ the area of their XOR
    gdspy_layers.py areas F       per layer: the merged area of F's
                                  flattened top cells, in square database
                                  units
    gdspy_layers.py window F X1 Y1 X2 Y2
                                  per layer: the area of F's flattened top
                                  cells inside the box (database units)
    gdspy_layers.py counts F      cell count, then per cell its name and
                                  number of references and arrays
    gdspy_layers.py write F       writes the layout built below to F

Polygons are taken to integer database units; a ring is canonical when
repeated and collinear vertices are dropped, it runs counter-clockwise and
starts at its lowest-left vertex.
"""
import collections
import math
import sys

import gdspy


def read(path):
    return gdspy.GdsLibrary(infile=path, units="import")


def flat_layers(lib, grid):
    """(layer, datatype) -> list of integer rings on a grid of `grid` metres."""
    scale = lib.unit / grid
    out = collections.defaultdict(list)
    for cell in lib.top_level():
        for key, polys in cell.get_polygons(by_spec=True).items():
            for poly in polys:
                out[key].append([(int(round(x * scale)), int(round(y * scale))) for x, y in poly])
    return out


def canonical(ring):
    pts = []
    for p in ring:
        if not pts or pts[-1] != p:
            pts.append(p)
    while len(pts) > 1 and pts[0] == pts[-1]:
        pts.pop()
    changed = True
    while changed and len(pts) >= 3:
        changed = False
        for i in range(len(pts)):
            a, b, c = pts[i - 1], pts[i], pts[(i + 1) % len(pts)]
            if (b[0] - a[0]) * (c[1] - b[1]) - (b[1] - a[1]) * (c[0] - b[0]) == 0:
                del pts[i]
                changed = True
                break
    if len(pts) < 3:
        return None
    if twice_area(pts) < 0:
        pts.reverse()
    k = pts.index(min(pts))
    return tuple(pts[k:] + pts[:k])


def twice_area(ring):
    n = len(ring)
    return sum(ring[i][0] * ring[(i + 1) % n][1] - ring[(i + 1) % n][0] * ring[i][1]
               for i in range(n))


def manhattan(rings):
    for r in rings:
        for i in range(len(r)):
            a, b = r[i - 1], r[i]
            if a[0] != b[0] and a[1] != b[1]:
                return False
    return True


def perimeter(rings):
    return sum(math.hypot(r[i][0] - r[i - 1][0], r[i][1] - r[i - 1][1])
               for r in rings for i in range(len(r)))


def merged_area(rings):
    if not rings:
        return 0
    # Integer input and a precision of 1/1000 unit: the union is exact.
    result = gdspy.boolean(rings, None, "or", precision=1e-3, max_points=0)
    return 0 if result is None else int(round(result.area()))


def xor_area(a, b):
    if not a and not b:
        return 0
    result = gdspy.boolean(a or [], b or [], "xor", precision=1e-3, max_points=0)
    return 0 if result is None else int(round(result.area()))


def compare(path_a, path_b):
    lib_a, lib_b = read(path_a), read(path_b)
    grid = lib_a.precision
    la, lb = flat_layers(lib_a, grid), flat_layers(lib_b, grid)
    for key in sorted(set(la) | set(lb)):
        a, b = la.get(key, []), lb.get(key, [])
        ca = collections.Counter(c for c in map(canonical, a) if c)
        cb = collections.Counter(c for c in map(canonical, b) if c)
        equal = ca == cb
        print(key[0], key[1], "equal" if equal else "differ", sum(ca.values()),
              sum(cb.values()), 0 if equal else xor_area(a, b),
              int(manhattan(a) and manhattan(b)), int(math.ceil(perimeter(a))))


def areas(path):
    lib = read(path)
    for key, rings in sorted(flat_layers(lib, lib.precision).items()):
        print(key[0], key[1], merged_area(rings))


def window(path, x1, y1, x2, y2):
    lib = read(path)
    box = gdspy.Rectangle((int(x1), int(y1)), (int(x2), int(y2)))
    for key, rings in sorted(flat_layers(lib, lib.precision).items()):
        inside = gdspy.boolean(rings, box, "and", precision=1e-3, max_points=0)
        print(key[0], key[1], 0 if inside is None else int(round(inside.area())))


def counts(path):
    lib = read(path)
    print(len(lib.cell_dict))
    for name in sorted(lib.cell_dict):
        cell = lib.cell_dict[name]
        refs = sum(1 for r in cell.references if isinstance(r, gdspy.CellReference))
        arrays = sum(1 for r in cell.references if isinstance(r, gdspy.CellArray))
        print(name, refs, arrays)


def new_cell(lib, name):
    cell = gdspy.Cell(name, exclude_from_current=True)
    lib.add(cell)
    return cell


def write(path):
    """Two levels: a leaf of rectangles, a 45-degree and an any-angle polygon
    and a 5,000-vertex comb; references and arrays rotated, mirrored and
    magnified; paths of types 0 and 2; database unit 1 nm."""
    lib = gdspy.GdsLibrary(name="GDSPY", unit=1e-6, precision=1e-9)
    leaf = new_cell(lib, "leaf")
    leaf.add(gdspy.Rectangle((0, 0), (1.0, 0.4), layer=1))
    leaf.add(gdspy.Polygon([(0, 0), (0.5, 0), (1.0, 0.5), (1.0, 1.0), (0, 1.0)], layer=2))
    leaf.add(gdspy.Polygon([(0, 0), (0.37, 0.11), (0.23, 0.71), (-0.05, 0.4)], layer=3,
                           datatype=5))
    big = new_cell(lib, "big")
    teeth = 1249  # 4 + 4 x 1249 = 5,000 vertices
    w = teeth * 0.1
    comb = [(0, 0), (w / 2, 0), (w / 2, -0.01), (w, -0.01)]
    for t in range(teeth - 1, -1, -1):
        comb += [(t * 0.1 + 0.1, 50.0), (t * 0.1 + 0.05, 50.0), (t * 0.1 + 0.05, 1.0),
                 (t * 0.1, 1.0)]
    big.add(gdspy.Polygon(comb, layer=4))
    wires = new_cell(lib, "wires")
    wires.add(gdspy.FlexPath([(0, 0), (2.0, 0), (2.0, 3.0), (5.0, 3.0)], 0.2, ends="flush",
                             gdsii_path=True, layer=5))
    wires.add(gdspy.FlexPath([(0, 5.0), (0, 8.0), (4.0, 8.0)], 0.4, ends="extended",
                             gdsii_path=True, layer=6))
    top = new_cell(lib, "top")
    k = 0
    for rotation in (0, 90, 180, 270):
        for mirror in (False, True):
            for mag in (1, 2):
                x = 40.0 * k
                top.add(gdspy.CellReference(leaf, (x, 0), rotation=rotation, magnification=mag,
                                            x_reflection=mirror))
                top.add(gdspy.CellArray(leaf, 3, 2, (3.0, 3.0), (x, 30.0),
                                        rotation=rotation, magnification=mag,
                                        x_reflection=mirror))
                top.add(gdspy.CellReference(wires, (x, 80.0), rotation=rotation,
                                            magnification=mag, x_reflection=mirror))
                k += 1
    top.add(gdspy.CellReference(big, (0, 200.0)))
    top.add(gdspy.CellReference(big, (700.0, 200.0), rotation=90, x_reflection=True))
    lib.write_gds(path)


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    {"compare": compare, "areas": areas, "window": window, "counts": counts,
     "write": write}[command](*args)
