/* Static programs have no dlopen: the module is linked in and registered as package.preload.imgvet,
   so that require "imgvet" finds it the way it finds a C module on the router's package.cpath. */
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include "imgvet.h"
#include "lua_preload.h"

void imgvet_preload(lua_State *L)
{
    lua_getglobal(L, "package");
    lua_getfield(L, -1, "preload");
    lua_pushcfunction(L, luaopen_imgvet);
    lua_setfield(L, -2, "imgvet");
    lua_pop(L, 2);
}

void imgvet_openlibs(lua_State *L)
{
    luaL_openlibs(L);
    imgvet_preload(L);
}
