/* Lua 5.1 binding: require "imgvet" defines the global function "check". */
#include "imgvet.h"

#include <lua.h>
#include <string.h>

int imgvet(lua_State *L)
{
    const char *path = NULL;
    size_t len = 0;
    /* Only a real string is a path: a number must not be turned into a file name, and a
       string with an embedded NUL names no file. */
    if (lua_type(L, 1) == LUA_TSTRING) {
        path = lua_tolstring(L, 1, &len);
        if (path != NULL && strlen(path) != len)
            path = NULL;
    }
    lua_pushboolean(L, path != NULL && check_image(path) == 1);
    return 1;
}

int luaopen_imgvet(lua_State *L)
{
    lua_pushcfunction(L, imgvet);
    lua_setfield(L, LUA_GLOBALSINDEX, "check");
    /* require passed the module name as the argument: that is what require returns. */
    return 1;
}
