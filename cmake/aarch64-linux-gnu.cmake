# Debian's cross compiler for aarch64 (crossbuild-essential-arm64), which
# finds Debian's arm64 headers and libraries where multiarch installs them,
# with qemu-aarch64 to run what it builds: the C++ tests (make
# test-cpp-aarch64). pkg-config is pointed at the arm64 files by the caller.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
