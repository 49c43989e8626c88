# Builds libmnl's library from its release sources (whose own build is autotools) as a static
# archive, with its headers and a pkg-config file, for the router cross builds.
cmake_minimum_required(VERSION 3.18)
project(libmnl VERSION 1.0.4 LANGUAGES C)
# configure's config.h says only whether the compiler has -fvisibility=hidden: ours has.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/config.h "#define HAVE_VISIBILITY_HIDDEN 1\n")
add_library(mnl STATIC src/socket.c src/callback.c src/nlmsg.c src/attr.c)
target_include_directories(mnl PRIVATE include ${CMAKE_CURRENT_BINARY_DIR})
target_compile_options(mnl PRIVATE -fvisibility=hidden)
target_compile_definitions(mnl PRIVATE _FILE_OFFSET_BITS=64 _REENTRANT)
install(TARGETS mnl ARCHIVE DESTINATION lib)
install(DIRECTORY include/libmnl DESTINATION include FILES_MATCHING PATTERN "*.h")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/libmnl.pc
"prefix=${CMAKE_INSTALL_PREFIX}
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: libmnl
Description: Minimalistic Netlink communication library
Version: ${PROJECT_VERSION}
Libs: -L\${libdir} -lmnl
Cflags: -I\${includedir}
")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/libmnl.pc DESTINATION lib/pkgconfig)
