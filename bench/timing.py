"""Timing shared by the benchmark scripts."""

import gc
import time


def best_cpu_seconds(function, repeats):
    """CPU seconds of the fastest of `repeats` runs of function(): the least disturbed run. The
    collector is off while timing, as timeit does, so that no run pays for another's garbage."""
    # Process CPU time rather than the wall clock, which on a shared machine also counts the
    # time spent waiting for a core.
    timer = time.clock
    was_enabled = gc.isenabled()
    gc.disable()
    try:
        best = None
        for _ in range(repeats):
            start = timer()
            function()
            elapsed = timer() - start
            if best is None or elapsed < best:
                best = elapsed
        return best
    finally:
        if was_enabled:
            gc.enable()
