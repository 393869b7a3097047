# The sizing and distance checks of sizing_bench and distance_check_bench
# run by KLayout on the same rectangles, for comparison. Takes the flat
# layout that main_road_bench writes (keep it with -dir FOLDER):
#
#   klayout -b -r bench/klayout_checks.py -rd gds=FOLDER/n100000/layout.gds
#
# Prints the CPU seconds (best of three) of the merge of both layers, both
# layers sized by +50 and -50 units (merged as part of sizing), SPACE and
# WIDTH of the merged layers at 200 and the enclosure of {2 0} by {1 0} at
# 200.
import time

import pya

layout = pya.Layout()
layout.read(gds)  # noqa: F821 (set by -rd)
top = layout.top_cell()
first = pya.Region(top.begin_shapes_rec(layout.layer(1, 0)))
second = pya.Region(top.begin_shapes_rec(layout.layer(2, 0)))


def best(step, runs=3):
    fastest = None
    for _ in range(runs):
        start = time.process_time()
        result = step()
        spent = time.process_time() - start
        fastest = spent if fastest is None else min(fastest, spent)
    return fastest, result


both = first + second
seconds, merged = best(lambda: both.merged())
print("merge     %.3f s" % seconds)
print("size +50  %.3f s" % best(lambda: both.sized(50))[0])
print("size -50  %.3f s" % best(lambda: both.sized(-50))[0])
print("space 200 %.3f s" % best(lambda: merged.space_check(200))[0])
print("width 200 %.3f s" % best(lambda: merged.width_check(200))[0])
enclosing, enclosed = first.merged(), second.merged()
print("enc 200   %.3f s" % best(lambda: enclosed.enclosed_check(enclosing, 200))[0])
