"""New York to Singapore: the geodesic on WGS84 against the great circle on
the sphere, on a north-polar azimuthal equidistant map (matplotlib's polar
axes: the angle is the longitude, the radius the distance from the pole), and
how far apart the two tracks run along the way."""

import matplotlib.pyplot as plt
import numpy as np

from tarnu import ufunc

NEW_YORK = (40.7128, -74.0060)
SINGAPORE = (1.3521, 103.8198)
RADIUS = 6371008.8  # metres, the sphere of the great_circle functions


def geodesic_track(n):
    """n points along the geodesic, equally spaced, ends included."""
    s12, azi1, _, _ = ufunc.geodesic_inverse(*NEW_YORK, *SINGAPORE)
    return ufunc.geodesic_destination(*NEW_YORK, azi1, s12 * np.linspace(0, 1, n))


def unit_vectors(lat, lon):
    """Points as unit vectors of the sphere (latitudes taken as they are)."""
    lat, lon = np.radians(lat), np.radians(lon)
    return np.stack([np.cos(lat) * np.cos(lon), np.cos(lat) * np.sin(lon), np.sin(lat)], axis=-1)


def great_circle_track(n):
    """n points along the great circle, equally spaced, ends included: the
    ends' unit vectors interpolated along the arc between them."""
    a, b = unit_vectors(*np.array([NEW_YORK, SINGAPORE]).T)
    omega = np.arccos(a @ b)
    t = np.linspace(0, 1, n)[:, None]
    p = (np.sin((1 - t) * omega) * a + np.sin(t * omega) * b) / np.sin(omega)
    return np.degrees(np.arcsin(p[:, 2])), np.degrees(np.arctan2(p[:, 1], p[:, 0]))


geo_lat, geo_lon = geodesic_track(401)
gc_lat, gc_lon = great_circle_track(401)
geodesic_km = ufunc.geodesic_distance(*NEW_YORK, *SINGAPORE) / 1000
sphere_km = ufunc.great_circle_distance(*NEW_YORK, *SINGAPORE) / 1000
along_km = np.linspace(0, geodesic_km, geo_lat.size)
# How far each geodesic point lies off the great circle's plane, as an arc
# of the sphere: the angle between the point and the plane's normal.
normal = np.cross(*unit_vectors(*np.array([NEW_YORK, SINGAPORE]).T))
normal /= np.linalg.norm(normal)
apart_km = RADIUS * np.arcsin(np.abs(unit_vectors(geo_lat, geo_lon) @ normal)) / 1000

fig = plt.figure(figsize=(9, 4.2))
ax = fig.add_subplot(1, 2, 1, projection="polar")
ax.set_theta_zero_location("S")  # 0° of longitude straight down from the pole
ax.set_rlim(0, 95)
ax.set_rticks([30, 60, 90], labels=["60°N", "30°N", "equator"])
ax.set_xticks(np.radians(np.arange(0, 360, 30)),
              labels=[f"{(d + 180) % 360 - 180}°" for d in range(0, 360, 30)])
ax.plot(np.radians(gc_lon), 90 - gc_lat, color="tab:orange", lw=2.5,
        label=f"great circle, sphere: {sphere_km:,.1f} km")
ax.plot(np.radians(geo_lon), 90 - geo_lat, color="tab:blue", lw=1.2, ls="--",
        label=f"geodesic, WGS84: {geodesic_km:,.1f} km")
for name, (lat, lon) in (("New York", NEW_YORK), ("Singapore", SINGAPORE)):
    ax.plot(np.radians(lon), 90 - lat, "ko", ms=4)
    ax.annotate(name, (np.radians(lon), 90 - lat), xytext=(6, 4), textcoords="offset points")
ax.legend(loc="upper center", bbox_to_anchor=(0.5, -0.06), frameon=False)
ax.set_title("Over the pole, seen from above it")

ax = fig.add_subplot(1, 2, 2)
ax.plot(along_km / 1000, apart_km, color="tab:purple")
ax.set_xlabel("distance from New York along the geodesic (1000 km)")
ax.set_ylabel("distance to the great circle's track (km)")
ax.set_title("How far apart the two tracks run")
ax.set_xlim(0, geodesic_km / 1000)
ax.set_ylim(bottom=0)
ax.grid(alpha=0.3)
fig.tight_layout()
