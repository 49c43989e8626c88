# OpenWrt's procd, ubox, udebug and jsonpath on the development machine (scripts/deps), loaded
# into each of their projects (CMAKE_PROJECT_INCLUDE). On a router they are built against musl and
# the SDK's staging directory; here against glibc and the libraries of the same prefix:
# - their sub-projects and tools take headers and libraries by bare name: the prefix first;
# - they are built, not installed (their install rules want the whole of each tree), so their
#   programs carry the prefix's library path from the start;
# - glibc 2.36 has no strlcpy, which procd's utils.c calls (and ignores the result): the macro
#   gives the same truncating, terminated copy;
# - GCC 12 flags a sprintf of procd's signal.c that cannot overflow (-Wformat-overflow).
include_directories(BEFORE SYSTEM ${CMAKE_INSTALL_PREFIX}/include)
link_directories(${CMAKE_INSTALL_PREFIX}/lib)
set(CMAKE_BUILD_WITH_INSTALL_RPATH ON)
add_compile_options(-Wno-error=format-overflow "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/glibc-strlcpy.h")
