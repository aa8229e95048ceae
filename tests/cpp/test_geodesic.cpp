#include "tarnu/geodesic.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <latch>
#include <limits>
#include <thread>
#include <vector>

namespace {

using tarnu::geodesic::Geodesic;
using tarnu::geodesic::GeodesicResult;
using tarnu::geodesic::wgs84;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// |got - want| <= tol, printing both values on failure.  With `angle` set the
// difference is taken modulo 360, since GeographicLib reduces azimuths and
// direct longitudes and 180 and -180 are the same answer.  NaN never passes.
testing::AssertionResult near(const char* field, double got, double want,
                              double tol, bool angle = false) {
  const double diff = angle ? std::remainder(got - want, 360.0) : got - want;
  if (std::abs(diff) <= tol) return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << std::setprecision(17) << field << ": got " << got << ", want "
         << want << ", |diff| " << std::abs(diff) << " > " << tol;
}

// Bit-for-bit equality, so -0.0 and 0.0 differ.
testing::AssertionResult same_bits(const char* field, double got, double want) {
  if (std::bit_cast<std::uint64_t>(got) == std::bit_cast<std::uint64_t>(want))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << std::setprecision(17) << field
                                     << ": got " << got << ", want " << want;
}

struct Tolerance {
  double angle, s12, a12, m12, M, S12;  // degrees, m, degrees, m, 1, m^2
};
// GeographicLib's own tolerances for its reference cases.
constexpr Tolerance reference_tol{1e-13, 1e-8, 1e-13, 1e-8, 1e-15, 0.1};

struct FullCase {
  double lat1, lon1, azi1, lat2, lon2, azi2, s12, a12, m12, M12, M21, S12;
};

// Karney's published WGS84 reference geodesics (from GeographicLib's test
// suite), lon2 unrolled.  Mixed lengths up to a12 = 156 degrees, one end at
// -87.9 degrees, and lon2 beyond +-180 in both senses.
constexpr FullCase reference_cases[] = {
    {35.60777, -139.44815, 111.098748429560326, -11.17491, -69.95921,
     129.289270889708762, 8935244.5604818305, 80.50729714281974,
     6273170.2055303837, 0.16606318447386067, 0.16479116945612937,
     12841384694976.432},
    {55.52454, 106.05087, 22.020059880982801, 77.03196, 197.18234,
     109.112041110671519, 4105086.1713924406, 36.892740690445894,
     3828869.3344387607, 0.80076349608092607, 0.80101006984201008,
     61674961290615.615},
    {-21.97856, 142.59065, -32.44456876433189, 41.84138, 98.56635,
     -41.84359951440466, 8394328.894657671, 75.62930491011522,
     6161154.5773110616, 0.24816339233950381, 0.24930251203627892,
     -6637997720646.717},
    {-66.99028, 112.2363, 173.73491240878403, -12.70631, 285.90344,
     2.512956620913668, 11150344.2312080241, 100.278634181155759,
     6289939.5670446687, -0.17199490274700385, -0.17722569526345708,
     -121287239862139.744},
    {-17.42761, 173.34268, -159.033557661192928, -15.84784, 5.93557,
     -20.787484651536988, 16076603.1631180673, 144.640108810286253,
     3732902.1583877189, -0.81273638700070476, -0.81299800519154474,
     97825992354058.708},
    {32.84994, 48.28919, 150.492927788121982, -56.28556, 202.29132,
     48.113449399816759, 16727068.9438164461, 150.565799985466607,
     3147838.1910180939, -0.87334918086923126, -0.86505036767110637,
     -72445258525585.010},
    {6.96833, 52.74123, 92.581585386317712, -7.39675, 206.17291,
     90.721692165923907, 17102477.2496958388, 154.147366239113561,
     2772035.6169917581, -0.89991282520302447, -0.89986892177110739,
     -1311796973197.995},
    {-58.93002, -8.90775, 140.965397902500679, -8.91104, 133.13503,
     19.255429433416599, 11756066.0219864627, 105.755691241406877,
     6151101.2270708536, -0.26548622269867183, -0.27068483874510741,
     -86143460552774.735},
    {-68.82867, -74.28391, 93.774347763114881, -50.63005, -8.36685,
     34.65564085411343, 3956936.926063544, 35.572254987389284,
     3708890.9544062657, 0.81443963736383502, 0.81420859815358342,
     -41845309450093.787},
    {-19.79938, -174.47484, 71.167275780171533, -11.99349, -154.35109,
     65.589099775199228, 2319004.8601169389, 20.896611684802389,
     2267960.8703918325, 0.93427001867125849, 0.93424887135032789,
     -3935477535005.785},
    {-87.85331, 85.66836, -65.120313040242748, 66.48646, 16.09921,
     -4.888658719272296, 17286615.3147144645, 155.58592449699137,
     2635887.4729110181, -0.90697975771398578, -0.91095608883042767,
     42667211366919.534},
    {-25.72959, -144.90758, -153.647468693117198, -57.70581, -269.17879,
     -48.343983158876487, 9413446.7452453107, 84.664533838404295,
     6356176.6898881281, 0.09492245755254703, 0.09737058264766572,
     74515122850712.444},
};

// Published degenerate geodesics with every quantity given: both ends on the
// north pole at opposite longitudes, and two coincident points.  Inverse
// only: the direct problem from a pole cannot reproduce lon2 = 180.
constexpr FullCase degenerate_cases[] = {
    {90, 0, 0, 90, 180, 180, 0, 0, 0, 1, 1, 127516405431022.0},
    {20.001, 0, 180, 20.001, 0, 180, 0, 0, 0, 1, 1, 0},
};
constexpr Tolerance degenerate_tol{1e-13, 1e-8, 1e-13, 1e-8, 1e-15, 0.5};

void expect_inverse_full(const FullCase& c, const Tolerance& tol) {
  const GeodesicResult r =
      wgs84().inverse_full(c.lat1, c.lon1, c.lat2, c.lon2);
  EXPECT_TRUE(near("azi1", r.azi1, c.azi1, tol.angle, true));
  EXPECT_TRUE(near("azi2", r.azi2, c.azi2, tol.angle, true));
  EXPECT_TRUE(near("s12", r.s12, c.s12, tol.s12));
  EXPECT_TRUE(near("a12", r.a12, c.a12, tol.a12));
  EXPECT_TRUE(near("m12", r.m12, c.m12, tol.m12));
  EXPECT_TRUE(near("M12", r.M12, c.M12, tol.M));
  EXPECT_TRUE(near("M21", r.M21, c.M21, tol.M));
  EXPECT_TRUE(near("S12", r.S12, c.S12, tol.S12));
}

TEST(Wgs84, OneObjectForRacingFirstCallersAndLaterCalls) {
  // Defined first so that these threads race on the construction itself.
  constexpr int n = 8;
  std::latch start(n);
  std::array<const Geodesic*, n> seen{};
  std::vector<std::thread> threads;
  for (int i = 0; i < n; ++i)
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      seen[i] = &wgs84();
    });
  for (auto& t : threads) t.join();
  for (const Geodesic* p : seen) EXPECT_EQ(p, &wgs84());
  EXPECT_EQ(&wgs84(), &wgs84());
}

TEST(InverseFull, ReferenceCases) {
  for (const FullCase& c : reference_cases) {
    SCOPED_TRACE(testing::Message() << "case " << c.lat1 << "," << c.lon1);
    expect_inverse_full(c, reference_tol);
  }
}

TEST(InverseFull, PoleAndCoincidentCases) {
  for (const FullCase& c : degenerate_cases) {
    SCOPED_TRACE(testing::Message() << "case " << c.lat1 << "," << c.lon2);
    expect_inverse_full(c, degenerate_tol);
  }
}

TEST(InverseFull, QuarterMeridian) {
  const GeodesicResult r = wgs84().inverse_full(0, 0, 90, 0);
  EXPECT_TRUE(near("s12", r.s12, 10001965.729, 1e-3));
  EXPECT_TRUE(near("a12", r.a12, 90, 1e-13));
  EXPECT_TRUE(near("azi1", r.azi1, 0, 1e-13));
  EXPECT_TRUE(near("azi2", r.azi2, 0, 1e-13));
}

// Published spot values for geodesics the reference table lacks: nearly
// antipodal (where the inverse solution has to search hardest), along and
// across the equator, near the poles, and very short.  NaN azimuths were
// not published.  Tolerances are those published with each value.
struct InverseCase {
  double lat1, lon1, lat2, lon2, azi1, azi2, s12, tol_azi, tol_s12;
};
constexpr InverseCase inverse_cases[] = {
    {88.202499451857, 0, -88.202499451857, 179.981022032992859592, nan, nan,
     20003898.214, 0, 0.5e-3},
    {56.320923501171, 0, -56.320923501171, 179.664747671772880215, nan, nan,
     19993558.287, 0, 0.5e-3},
    {45, 0, -45, 179.572719, 90.00000028, 90.00000028, 19987083.007, 1e-8,
     0.5e-3},
    {-(41 + 19 / 60.0), 174 + 49 / 60.0, 40 + 58 / 60.0, -(5 + 30 / 60.0),
     160.39137649664, 19.50042925176, 19960543.857179, 0.5e-11, 0.5e-6},
    {27.2, 0, -27.1, 179.5, 45.82468716758, 134.22776532670, 19974354.765767,
     0.5e-11, 0.5e-6},
    {5, 0.00000000000001, 10, 180, 0.000000000000035, 179.99999999999996,
     18345191.174332713, 1.5e-14, 5e-9},
    {0, 0, 0, 179, 90, 90, 19926189, 0.5e-5, 0.5},
    {0, 0, 0, 179.5, 55.96650, 124.03350, 19980862, 0.5e-5, 0.5},
    {0, 0, 0, 180, 0, 180, 20003931, 0.5e-5, 0.5},
    {0, 0, 1, 180, 0, 180, 19893357, 0.5e-5, 0.5},
    {36.493349428792, 0, 36.49334942879201, 0.0000008, nan, nan, 0.072, 0,
     0.5e-3},
};

TEST(Inverse, PublishedSpotValues) {
  for (const InverseCase& c : inverse_cases) {
    SCOPED_TRACE(testing::Message() << "case " << c.lat1 << "," << c.lon1
                                    << " -> " << c.lat2 << "," << c.lon2);
    const GeodesicResult r = wgs84().inverse(c.lat1, c.lon1, c.lat2, c.lon2);
    EXPECT_TRUE(near("s12", r.s12, c.s12, c.tol_s12));
    if (!std::isnan(c.azi1)) {
      EXPECT_TRUE(near("azi1", r.azi1, c.azi1, c.tol_azi, true));
      EXPECT_TRUE(near("azi2", r.azi2, c.azi2, c.tol_azi, true));
    }
  }
}

TEST(Inverse, OneDegreeOfEquator) {
  const GeodesicResult r = wgs84().inverse(0, 0, 0, 1);
  EXPECT_TRUE(near("s12", r.s12, 111319.491, 1e-3));
  EXPECT_TRUE(near("a12", r.a12, 1.0033640898, 0.5e-10));
  EXPECT_TRUE(near("azi1", r.azi1, 90, 1e-13));
  EXPECT_TRUE(near("azi2", r.azi2, 90, 1e-13));
}

TEST(Inverse, CoincidentPointsGiveZeroLength) {
  const GeodesicResult r = wgs84().inverse(-33.9, 151.2, -33.9, 151.2);
  EXPECT_TRUE(same_bits("s12", r.s12, 0.0));
  EXPECT_TRUE(same_bits("a12", r.a12, 0.0));
}

// inverse() asks GeographicLib for less but must agree with inverse_full()
// on what both return, and leave the rest at 0.0.
TEST(Inverse, AgreesWithInverseFullAndZeroesTheRest) {
  for (const FullCase& c : reference_cases) {
    SCOPED_TRACE(testing::Message() << "case " << c.lat1 << "," << c.lon1);
    const GeodesicResult r = wgs84().inverse(c.lat1, c.lon1, c.lat2, c.lon2);
    const GeodesicResult f =
        wgs84().inverse_full(c.lat1, c.lon1, c.lat2, c.lon2);
    EXPECT_TRUE(same_bits("s12", r.s12, f.s12));
    EXPECT_TRUE(same_bits("a12", r.a12, f.a12));
    EXPECT_TRUE(same_bits("azi1", r.azi1, f.azi1));
    EXPECT_TRUE(same_bits("azi2", r.azi2, f.azi2));
    EXPECT_TRUE(same_bits("m12", r.m12, 0.0));
    EXPECT_TRUE(same_bits("M12", r.M12, 0.0));
    EXPECT_TRUE(same_bits("M21", r.M21, 0.0));
    EXPECT_TRUE(same_bits("S12", r.S12, 0.0));
  }
}

TEST(Inverse, EchoesTheCallersCoordinates) {
  const GeodesicResult r = wgs84().inverse(-0.0, 0.1, 0.0, 370);
  const GeodesicResult ten = wgs84().inverse(0, 0.1, 0, 10);
  EXPECT_TRUE(same_bits("lat1", r.lat1, -0.0));
  EXPECT_TRUE(same_bits("lon1", r.lon1, 0.1));
  EXPECT_TRUE(same_bits("lat2", r.lat2, 0.0));
  EXPECT_TRUE(same_bits("lon2", r.lon2, 370));
  EXPECT_TRUE(near("s12", r.s12, ten.s12, 1e-8));
  EXPECT_TRUE(near("a12", r.a12, ten.a12, 1e-13));
  EXPECT_TRUE(near("azi1", r.azi1, ten.azi1, 1e-13));
  EXPECT_TRUE(near("azi2", r.azi2, ten.azi2, 1e-13));
  const GeodesicResult f = wgs84().inverse_full(-0.0, 0.1, 0.0, 370);
  EXPECT_TRUE(same_bits("full lat1", f.lat1, -0.0));
  EXPECT_TRUE(same_bits("full lon2", f.lon2, 370));
}

TEST(Direct, ReferenceCases) {
  for (const FullCase& c : reference_cases) {
    SCOPED_TRACE(testing::Message() << "case " << c.lat1 << "," << c.lon1);
    const GeodesicResult r = wgs84().direct(c.lat1, c.lon1, c.azi1, c.s12);
    EXPECT_TRUE(near("lat2", r.lat2, c.lat2, reference_tol.angle));
    EXPECT_TRUE(near("lon2", r.lon2, c.lon2, reference_tol.angle, true));
    EXPECT_TRUE(r.lon2 >= -180 && r.lon2 <= 180) << "lon2 " << r.lon2;
    EXPECT_TRUE(near("azi2", r.azi2, c.azi2, reference_tol.angle, true));
    EXPECT_TRUE(near("a12", r.a12, c.a12, reference_tol.a12));
    EXPECT_TRUE(same_bits("m12", r.m12, 0.0));
    EXPECT_TRUE(same_bits("M12", r.M12, 0.0));
    EXPECT_TRUE(same_bits("M21", r.M21, 0.0));
    EXPECT_TRUE(same_bits("S12", r.S12, 0.0));
  }
}

// Published direct values.  lon2 is compared without wrapping: the second
// case goes backwards off the north pole and the third crosses the
// antimeridian, where an unrolled longitude would be 190 and -255.
struct DirectCase {
  double lat1, lon1, azi1, s12, lat2, lon2, azi2, tol;
};
constexpr DirectCase direct_cases[] = {
    {40.63972222, -73.77888889, 53.5, 5850e3, 49.01467, 2.56106, 111.62947,
     0.5e-5},
    {90, 10, 180, -1e6, 81.04623, -170, 0, 0.5e-5},
    {40, -75, -10, 2e7, -39, 105, -170, 1},
};

TEST(Direct, PublishedSpotValues) {
  for (const DirectCase& c : direct_cases) {
    SCOPED_TRACE(testing::Message() << "case " << c.lat1 << "," << c.lon1
                                    << " azi1=" << c.azi1 << " s12=" << c.s12);
    const GeodesicResult r = wgs84().direct(c.lat1, c.lon1, c.azi1, c.s12);
    EXPECT_TRUE(near("lat2", r.lat2, c.lat2, c.tol));
    EXPECT_TRUE(near("lon2", r.lon2, c.lon2, c.tol));
    EXPECT_TRUE(near("azi2", r.azi2, c.azi2, c.tol));
  }
}

TEST(Direct, ZeroDistanceReducesAngles) {
  const GeodesicResult r = wgs84().direct(0, 0, 450, 0);
  EXPECT_TRUE(same_bits("azi1", r.azi1, 450));
  EXPECT_TRUE(near("azi2", r.azi2, 90, 1e-13));
  EXPECT_TRUE(near("lat2", r.lat2, 0, 1e-13));
  EXPECT_TRUE(near("lon2", r.lon2, 0, 1e-13));
  EXPECT_TRUE(near("a12", r.a12, 0, 1e-13));

  const GeodesicResult w = wgs84().direct(0, 370, 90, 0);
  EXPECT_TRUE(same_bits("lon1", w.lon1, 370));
  EXPECT_TRUE(near("lon2", w.lon2, 10, 1e-13));
}

TEST(Direct, EchoesTheCallersArguments) {
  const GeodesicResult r = wgs84().direct(-0.0, 0.1, -0.0, 1e-300);
  EXPECT_TRUE(same_bits("lat1", r.lat1, -0.0));
  EXPECT_TRUE(same_bits("lon1", r.lon1, 0.1));
  EXPECT_TRUE(same_bits("azi1", r.azi1, -0.0));
  EXPECT_TRUE(same_bits("s12", r.s12, 1e-300));
}

// Non-finite arguments pass through: no crash, the argument comes back in
// its echo field and GeographicLib's NaN in the computed ones.
TEST(NonFinite, InverseArgumentsGiveNaN) {
  for (int i = 0; i < 4; ++i) {
    for (double bad : {nan, inf}) {
      std::array<double, 4> p{10, 20, 30, 40};
      p[i] = bad;
      SCOPED_TRACE(testing::Message() << "argument " << i << " = " << bad);
      const GeodesicResult r = wgs84().inverse(p[0], p[1], p[2], p[3]);
      const GeodesicResult f = wgs84().inverse_full(p[0], p[1], p[2], p[3]);
      for (double v : {r.a12, r.s12, r.azi1, r.azi2, f.a12, f.s12, f.azi1,
                       f.azi2, f.m12, f.M12, f.M21, f.S12})
        EXPECT_TRUE(std::isnan(v)) << v;
      const std::array echo{r.lat1, r.lon1, r.lat2, r.lon2};
      const std::array full_echo{f.lat1, f.lon1, f.lat2, f.lon2};
      EXPECT_TRUE(same_bits("echo", echo[i], bad));
      EXPECT_TRUE(same_bits("full echo", full_echo[i], bad));
    }
  }
}

TEST(NonFinite, DirectArgumentsGiveNaN) {
  struct Case {
    double lat1, lon1, azi1, s12;
    bool rest_nan;  // lat2, azi2 and a12; lon2 is NaN in every case
  };
  const Case cases[] = {
      {nan, 0, 90, 1000, true},  {inf, 0, 90, 1000, true},
      {0, nan, 90, 1000, false}, {0, inf, 90, 1000, false},
      {0, 0, nan, 1000, true},   {0, 0, inf, 1000, true},
      {0, 0, 90, nan, true},     {0, 0, 90, inf, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lat1 << ", " << c.lon1 << ", "
                                    << c.azi1 << ", " << c.s12);
    const GeodesicResult r = wgs84().direct(c.lat1, c.lon1, c.azi1, c.s12);
    EXPECT_TRUE(std::isnan(r.lon2)) << r.lon2;
    for (double v : {r.lat2, r.azi2, r.a12})
      EXPECT_EQ(std::isnan(v), c.rest_nan) << v;
    EXPECT_TRUE(same_bits("lat1", r.lat1, c.lat1));
    EXPECT_TRUE(same_bits("lon1", r.lon1, c.lon1));
    EXPECT_TRUE(same_bits("azi1", r.azi1, c.azi1));
    EXPECT_TRUE(same_bits("s12", r.s12, c.s12));
  }
}

}  // namespace
