"""The vectorised solver of tarnu.ufunc against GeographicLib over the length
of the line: random starts and azimuths, lengths from 1 m to 20,000 km,
solved by ufunc.geodesic_inverse and by tarnu.geodesic.inverse (GeographicLib
itself, one pair at a time), with the bounds of the accuracy page drawn in:
20 nm in distance, and for the azimuth 3e-7 / s12 degrees (the short line's
conditioning) or 1e-11 degrees, whichever is larger."""

import matplotlib.pyplot as plt
import numpy as np

from tarnu import geodesic, ufunc

N = 20_000
rng = np.random.default_rng(1)
lat1 = np.degrees(np.arcsin(rng.uniform(-1, 1, N)))  # uniform over the sphere
lon1 = rng.uniform(-180, 180, N)
azi1 = rng.uniform(-180, 180, N)
s12 = 10 ** rng.uniform(0, np.log10(2e7), N)
lat2, lon2 = ufunc.geodesic_destination(lat1, lon1, azi1, s12)

vector = ufunc.geodesic_inverse(lat1, lon1, lat2, lon2)
exact = np.array([[r["s12"], r["azi1"]] for r in map(geodesic.inverse, lat1, lon1, lat2, lon2)]).T
length_nm = np.abs(vector[0] - exact[0]) * 1e9
azimuth_deg = np.abs((vector[1] - exact[1] + 180) % 360 - 180)

lengths = np.geomspace(1, 2e7, 200)
bounds = (np.full_like(lengths, 20.0), np.maximum(3e-7 / lengths, 1e-11))

fig, axes = plt.subplots(1, 2, figsize=(10, 3.6), sharex=True)
for ax, error, bound in zip(axes, (length_nm, azimuth_deg), bounds):
    equal = error == 0
    floor = error[~equal].min() / 10
    ax.scatter(exact[0][~equal], error[~equal], s=2, alpha=0.4, lw=0, label="differ")
    ax.scatter(exact[0][equal], np.full(equal.sum(), floor), s=2, alpha=0.4, lw=0,
               color="tab:green", label="the same bits (drawn at the bottom)")
    ax.plot(lengths, bound, color="tab:red", ls="--", lw=1, label="the promised bound")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("length of the line, s12 (m)")
    ax.grid(alpha=0.3)
axes[0].set_ylabel("|s12 − GeographicLib's s12| (nm)")
axes[0].set_title("Distance")
axes[1].set_ylabel("|azi1 − GeographicLib's azi1| (°)")
axes[1].set_title("Azimuth at the start")
axes[1].legend(loc="upper right", markerscale=5, fontsize=8)
fig.tight_layout()
