# Builds Lua 5.1 from its sources (whose own build is a makefile) for the router cross builds:
# the core and standard libraries as a static archive, with the headers and a pkg-config file
# under the names Debian uses (lua5.1), so the project finds it as it finds the host's.
cmake_minimum_required(VERSION 3.18)
project(lua51 VERSION 5.1.1 LANGUAGES C)
set(core lapi.c lcode.c ldebug.c ldo.c ldump.c lfunc.c lgc.c llex.c lmem.c lobject.c lopcodes.c
  lparser.c lstate.c lstring.c ltable.c ltm.c lundump.c lvm.c lzio.c
  lauxlib.c lbaselib.c ldblib.c liolib.c lmathlib.c loslib.c ltablib.c lstrlib.c loadlib.c linit.c)
add_library(lua5.1 STATIC ${core})
# C modules are loaded with dlopen, as on the router.
target_compile_definitions(lua5.1 PRIVATE LUA_USE_POSIX LUA_USE_DLOPEN)
target_compile_options(lua5.1 PRIVATE -w)
install(TARGETS lua5.1 ARCHIVE DESTINATION lib)
install(FILES lua.h luaconf.h lualib.h lauxlib.h DESTINATION include/lua5.1)
# lua.c is installed as a source: a test interpreter may be built from it with modules linked in.
install(FILES lua.c DESTINATION share/lua5.1)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/lua5.1.pc
"prefix=${CMAKE_INSTALL_PREFIX}
libdir=\${prefix}/lib
includedir=\${prefix}/include/lua5.1
INSTALL_CMOD=lib/lua/5.1
Name: Lua
Description: An extensible extension language
Version: ${PROJECT_VERSION}
Libs: -L\${libdir} -llua5.1
Cflags: -I\${includedir}
")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/lua5.1.pc DESTINATION lib/pkgconfig)
