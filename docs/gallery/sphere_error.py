"""The sphere's distances against WGS84's: the relative difference between
great_circle_distance and geodesic_distance from one point to every point of
the globe, on matplotlib's Mollweide projection."""

import matplotlib.pyplot as plt
import numpy as np

from tarnu import ufunc

ORIGINS = {"London": (51.5074, -0.1278), "Quito, on the equator": (-0.1807, -78.4678)}

lat = np.linspace(-90, 90, 181)
lon = np.linspace(-180, 180, 361)
grid_lon, grid_lat = np.meshgrid(lon, lat)

fig, axes = plt.subplots(1, 2, figsize=(10, 3.4), subplot_kw={"projection": "mollweide"})
for ax, (name, origin) in zip(axes, ORIGINS.items()):
    ellipsoid = ufunc.geodesic_distance(*origin, grid_lat, grid_lon)
    sphere = ufunc.great_circle_distance(*origin, grid_lat, grid_lon)
    # Within a few kilometres of the origin the ratio is all rounding.
    percent = np.ma.masked_where(ellipsoid < 5000, 100 * (sphere - ellipsoid) / ellipsoid)
    mesh = ax.pcolormesh(np.radians(grid_lon), np.radians(grid_lat), percent,
                         cmap="RdBu_r", vmin=-0.6, vmax=0.6, shading="auto")
    ax.plot(*np.radians(origin[::-1]), "k*", ms=9)
    ax.set_title(f"from {name}")
    ax.set_xticklabels([])
    ax.grid(alpha=0.4)
bar = fig.colorbar(mesh, ax=axes, orientation="horizontal", shrink=0.5, pad=0.06)
bar.set_label("sphere minus WGS84, % of the WGS84 distance")
