"""A short demonstration of tarnu: ``python -m tarnu``."""

from tarnu import distance

CITY_PAIRS = [
    ("London", 51.5074, -0.1278, "Paris", 48.8566, 2.3522),
    ("New York", 40.7128, -74.0060, "Los Angeles", 34.0522, -118.2437),
    ("Sydney", -33.8688, 151.2093, "Tokyo", 35.6762, 139.6503),
    ("Quito", -0.1807, -78.4678, "Singapore", 1.3521, 103.8198),
]


def main() -> None:
    print("tarnu: great-circle distances on a sphere of radius 6371008.8 m\n")
    for name1, lat1, lon1, name2, lat2, lon2 in CITY_PAIRS:
        km = distance.great_circle_distance(lat1, lon1, lat2, lon2) / 1000.0
        print(f"  {name1:>9} -> {name2:<12} {km:10.3f} km")
    lat, lon = distance.great_circle_destination(51.5074, -0.1278, 90.0, 100_000.0)
    print(f"\n  100 km due east of London: lat {lat:.6f}, lon {lon:.6f} (degrees)")


if __name__ == "__main__":
    main()
