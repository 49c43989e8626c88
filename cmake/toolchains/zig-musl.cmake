# Cross builds for the routers: static musl executables made by Zig's C/C++ compiler.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/zig-musl.cmake -DZUNARO_TARGET=mipsel \
#         -DZUNARO_ZIG=/path/to/zig [-DZUNARO_TARGET_PREFIX=build-deps/mipsel/prefix] ...
#
# ZUNARO_TARGET is mips (big-endian), mipsel or aarch64; ZUNARO_ZIG the zig 0.11 binary
# (scripts/cross installs one). The outside libraries are looked up in ZUNARO_TARGET_PREFIX
# only, by find_* and by pkg-config, never on the development machine. CTest runs the target's
# programs under qemu-TARGET-static.
cmake_minimum_required(VERSION 3.18)

# try_compile() runs this file again in a project of its own: hand it the same choices.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZUNARO_TARGET ZUNARO_ZIG ZUNARO_TARGET_PREFIX)

if(NOT ZUNARO_TARGET MATCHES "^(mips|mipsel|aarch64)$")
  message(FATAL_ERROR "ZUNARO_TARGET='${ZUNARO_TARGET}': choose mips, mipsel or aarch64")
endif()
if(NOT ZUNARO_ZIG OR NOT EXISTS "${ZUNARO_ZIG}")
  message(FATAL_ERROR "ZUNARO_ZIG='${ZUNARO_ZIG}': give the path of zig 0.11 (scripts/cross installs it)")
endif()

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${ZUNARO_TARGET})
set(_zig_triple ${ZUNARO_TARGET}-linux-musl)

# CMake wants one program per tool: small scripts beside zig that call it with the target.
get_filename_component(_zig_dir "${ZUNARO_ZIG}" DIRECTORY)
set(_wrap "${_zig_dir}/zunaro-wrap/${_zig_triple}")
foreach(tool cc c++ ar ranlib)
  set(_cmd "${tool}")
  if(tool STREQUAL "cc" OR tool STREQUAL "c++")
    # Zig builds musl and libc++ once per optimisation mode: -Os first (a build type's flags
    # come after it) keeps CMake's own checks on the variant the size-optimised builds use.
    set(_cmd "${tool} -target ${_zig_triple} -Os")
  endif()
  set(_text "#!/bin/sh\nexec '${ZUNARO_ZIG}' ${_cmd} \"$@\"\n")
  if(EXISTS "${_wrap}-${tool}")
    file(READ "${_wrap}-${tool}" _old)
  else()
    set(_old "")
  endif()
  if(NOT _old STREQUAL _text)
    file(MAKE_DIRECTORY "${_zig_dir}/zunaro-wrap")
    file(WRITE "${_wrap}-${tool}.tmp" "${_text}")
    file(CHMOD "${_wrap}-${tool}.tmp" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
      GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    file(RENAME "${_wrap}-${tool}.tmp" "${_wrap}-${tool}")
  endif()
endforeach()

set(CMAKE_C_COMPILER "${_wrap}-cc")
set(CMAKE_CXX_COMPILER "${_wrap}-c++")
set(CMAKE_AR "${_wrap}-ar" CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB "${_wrap}-ranlib" CACHE FILEPATH "" FORCE)

# Flash is small: every function and object in a section of its own, unused ones dropped.
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--gc-sections")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--gc-sections")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-Wl,--gc-sections")

find_program(ZUNARO_QEMU qemu-${ZUNARO_TARGET}-static)
if(ZUNARO_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${ZUNARO_QEMU}")
endif()

# Libraries and headers of the target only; programs (pkg-config, tools) of the build machine.
if(ZUNARO_TARGET_PREFIX)
  set(CMAKE_FIND_ROOT_PATH "${ZUNARO_TARGET_PREFIX}")
  set(ENV{PKG_CONFIG_LIBDIR} "${ZUNARO_TARGET_PREFIX}/lib/pkgconfig:${ZUNARO_TARGET_PREFIX}/share/pkgconfig")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
