/* The imgvet module linked into a static program (tests, the target's test interpreter). */
#ifndef IMGVET_LUA_PRELOAD_H
#define IMGVET_LUA_PRELOAD_H

#ifdef __cplusplus
extern "C" {
#endif

struct lua_State;

/* package.preload.imgvet = luaopen_imgvet */
void imgvet_preload(struct lua_State *L);

/* The standard libraries, then the module's preload: the interpreter's luaL_openlibs. */
void imgvet_openlibs(struct lua_State *L);

#ifdef __cplusplus
}
#endif

#endif
