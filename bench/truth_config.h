// GeographicLib's Config.h for the truth of `make accuracy` (the Makefile
// copies it over the one in build/truth/include): GeographicLib 2.1.2 built
// in long double, whose 64-bit significands and series of order 7 put it
// about 2000 times closer to the exact answer than the double build, in a
// namespace of its own so that it links beside the system's double build.
// Every header includes this file before it opens the namespace.
#define GEOGRAPHICLIB_VERSION_STRING "2.1.2"
#define GEOGRAPHICLIB_VERSION_MAJOR 2
#define GEOGRAPHICLIB_VERSION_MINOR 1
#define GEOGRAPHICLIB_VERSION_PATCH 2
#define GEOGRAPHICLIB_DATA ""
#define GEOGRAPHICLIB_HAVE_LONG_DOUBLE 1
#define GEOGRAPHICLIB_WORDS_BIGENDIAN 0
#define GEOGRAPHICLIB_PRECISION 3
#define GEOGRAPHICLIB_SHARED_LIB 0
#define GeographicLib GeographicLibLD
