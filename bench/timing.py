"""Timing shared by the benchmark scripts."""

import gc
import time


def best_cpu_seconds_of_pair(subject, baseline, repeats):
    """(best subject seconds, best baseline seconds) over `repeats` runs of each, taken in turn.

    The CPU time of the fastest run is the least disturbed one. Alternating the two spreads any
    slow spell of a shared machine (another tenant, a lower clock) over both sides of the
    ratio instead of over one of them. The collector is off while timing, as timeit does, so
    that no run pays for another's garbage."""
    # Process CPU time rather than the wall clock, which on a shared machine also counts the
    # time spent waiting for a core.
    timer = getattr(time, "process_time", None) or time.clock  # 2.7: time.clock
    was_enabled = gc.isenabled()
    gc.disable()
    try:
        best = [None, None]
        for _ in range(repeats):
            for side, function in enumerate((subject, baseline)):
                start = timer()
                function()
                elapsed = timer() - start
                if best[side] is None or elapsed < best[side]:
                    best[side] = elapsed
        return best[0], best[1]
    finally:
        if was_enabled:
            gc.enable()
