# zig's clang and libc++ as a cross toolchain, for the portable wheels (make
# wheel). The environment names the zig executable (ZIG) and the target
# (ZIG_TARGET, e.g. aarch64-linux-gnu.2.28: an architecture, and the oldest
# glibc whose symbols the binaries may use). libc++ is linked statically into
# each shared object, its symbols hidden.
set(CMAKE_SYSTEM_NAME Linux)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "$ENV{ZIG_TARGET}")
set(CMAKE_CXX_COMPILER "$ENV{ZIG}" c++ -target "$ENV{ZIG_TARGET}")
# The configure checks compile without linking: a link would first build
# libc++ again, for the checks' own flags.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# zig builds libc++ with debug information; the wheels do not carry it.
set(CMAKE_SHARED_LINKER_FLAGS_INIT -Wl,--strip-debug)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -Wl,--strip-debug)
