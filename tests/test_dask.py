"""The README's Dask recipe: chunked columns through the batch functions give
the numbers of one in-memory call, under threads and under processes."""

import numpy as np
import pytest

from tarnu import distance
from surface import requires

da = pytest.importorskip("dask.array")  # a test-only dependency


def geodesic_block(lat1, lon1, lat2, lon2):
    # Imported here so that the function pickles for worker processes: the
    # native functions themselves cannot be pickled by reference.
    from tarnu.distance import geodesic_distance_batch
    return geodesic_distance_batch(lat1, lon1, lat2, lon2)


def great_circle_block(lat1, lon1, lat2, lon2):
    from tarnu.distance import great_circle_distance_batch
    return great_circle_distance_batch(lat1, lon1, lat2, lon2)


@requires("geodesic_distance_batch", "great_circle_distance_batch")
@pytest.mark.parametrize("scheduler", ["threads", "processes"])
@pytest.mark.parametrize("block, batch", [(geodesic_block, "geodesic_distance_batch"),
                                          (great_circle_block, "great_circle_distance_batch")])
def test_map_blocks_matches_one_call(scheduler, block, batch):
    rng = np.random.default_rng(7)
    columns = [rng.uniform(-90, 90, 50_001), rng.uniform(-180, 180, 50_001),
               rng.uniform(-90, 90, 50_001), rng.uniform(-180, 180, 50_001)]
    chunked = [da.from_array(c, chunks=8_192) for c in columns]
    lazy = da.map_blocks(block, *chunked, dtype=np.float64)
    result = lazy.compute(scheduler=scheduler, num_workers=2)
    assert np.array_equal(result, getattr(distance, batch)(*columns))
