# Cross build for 64-bit ARM with Debian's cross compiler, against the arm64
# sysroot that scripts/sysroot-arm64.sh unpacks (build-arm64-sysroot/root,
# or HW_ARM64_SYSROOT from the environment). Programs built here run on this
# machine under qemu-user: CTest, and the build steps that run a built
# program, go through CMAKE_CROSSCOMPILING_EMULATOR.
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

if(DEFINED ENV{HW_ARM64_SYSROOT})
  set(HW_ARM64_ROOT "$ENV{HW_ARM64_SYSROOT}")
else()
  get_filename_component(HW_ARM64_ROOT "${CMAKE_CURRENT_LIST_DIR}/../build-arm64-sysroot/root" ABSOLUTE)
endif()
if(NOT EXISTS "${HW_ARM64_ROOT}/usr/lib/aarch64-linux-gnu")
  message(FATAL_ERROR "No arm64 sysroot at ${HW_ARM64_ROOT}: run scripts/sysroot-arm64.sh")
endif()

# Libraries, headers and CMake packages from the sysroot; programs (moc, rcc,
# uic, pkg-config) from the machine.
set(CMAKE_FIND_ROOT_PATH "${HW_ARM64_ROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${HW_ARM64_ROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${HW_ARM64_ROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${HW_ARM64_ROOT}")

# Headers of the sysroot not named by a package's include directories (the
# multiarch ones, such as openssl/opensslconf.h), after the compiler's own.
foreach(lang C CXX)
  set(CMAKE_${lang}_FLAGS_INIT
      "-idirafter ${HW_ARM64_ROOT}/usr/include/aarch64-linux-gnu -idirafter ${HW_ARM64_ROOT}/usr/include")
endforeach()

# The sysroot's libraries need one another at link time.
set(_libdirs "${HW_ARM64_ROOT}/usr/lib/aarch64-linux-gnu:${HW_ARM64_ROOT}/lib/aarch64-linux-gnu")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_libdirs}")
endforeach()

# qemu-user finds the arm64 loader and libraries in the sysroot (-L); the
# loader there has no cache, so it is told the multiarch folders. qemu does
# not redirect folder listings into the sysroot, so Qt is given its plugins'
# real folder (image formats, the offscreen platform). A test that starts a
# program of the build reads this emulator from HW_TEST_EMULATOR.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L "${HW_ARM64_ROOT}"
    -E "LD_LIBRARY_PATH=/lib/aarch64-linux-gnu:/usr/lib/aarch64-linux-gnu"
    -E "QT_PLUGIN_PATH=${HW_ARM64_ROOT}/usr/lib/aarch64-linux-gnu/qt5/plugins")
