# Per-layer views of layout files as KLayout reads them, for the interop
# tests. Run as
#   klayout -b -r klayout_layers.py -rd cmd=COMMAND -rd a=FILE [-rd b=FILE]
#           [-rd out=FILE -rd cblocks=0|1 -rd strict=0|1 -rd level=N]
# with COMMAND one of
#   xor     a and b flattened from their top cells: per layer "L D AREA2
#           PERIMETER", twice the area of their XOR (in a's database unit)
#           and the perimeter of a's merged layer, then "cells N M" and
#           "instances N M" (array references counted once)
#   areas   per layer "L D AREA2": twice the merged area of a's flattened
#           top cells (exact: Region.area rounds each polygon's area)
#   oasis   writes a as OASIS to out with the options given
import pya


def load(path):
    layout = pya.Layout()
    layout.read(path)
    return layout


def flat_regions(layout, dbu):
    """(layer, datatype) -> merged region of every top cell, in units of dbu."""
    regions = {}
    for li in layout.layer_indexes():
        info = layout.get_info(li)
        region = pya.Region()
        for top in layout.top_cells():
            region.insert(pya.Region(top.begin_shapes_rec(li)))
        region = region.transformed(pya.ICplxTrans(layout.dbu / dbu))
        key = (info.layer, info.datatype)
        regions[key] = regions[key] + region if key in regions else region
    return {k: r.merged() for k, r in regions.items() if not r.is_empty()}


def twice_area(region):
    return sum(p.area2() for p in region.each())


def instances(layout):
    return sum(cell.child_instances() for cell in layout.each_cell())


def cmd_xor():
    la, lb = load(a), load(b)
    ra, rb = flat_regions(la, la.dbu), flat_regions(lb, la.dbu)
    for key in sorted(set(ra) | set(rb)):
        x = ra.get(key, pya.Region()) ^ rb.get(key, pya.Region())
        print(key[0], key[1], twice_area(x), ra.get(key, pya.Region()).perimeter())
    print("cells", la.cells(), lb.cells())
    print("instances", instances(la), instances(lb))


def cmd_areas():
    la = load(a)
    for key, region in sorted(flat_regions(la, la.dbu).items()):
        print(key[0], key[1], twice_area(region))


def cmd_oasis():
    la = load(a)
    options = pya.SaveLayoutOptions()
    options.format = "OASIS"
    options.oasis_write_cblocks = cblocks == "1"
    options.oasis_strict_mode = strict == "1"
    options.oasis_compression_level = int(level)
    la.write(out, options)


{"xor": lambda: cmd_xor(), "areas": lambda: cmd_areas(), "oasis": lambda: cmd_oasis()}[cmd]()
