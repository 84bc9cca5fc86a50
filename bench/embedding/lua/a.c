/* Runs a Lua file with the command line's arguments and prints its result:
 *   a SCRIPT [ARGUMENT...] */
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
#include <stdio.h>

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: a SCRIPT [ARGUMENT...]\n");
    return 2;
  }
  lua_State *L = luaL_newstate();
  if (L == NULL) {
    fprintf(stderr, "cannot create a Lua state: not enough memory\n");
    return 1;
  }
  luaL_openlibs(L);
  int status = luaL_loadfile(L, argv[1]);
  if (status == LUA_OK) {
    /* The arguments are strings, the chunk's ... */
    if (!lua_checkstack(L, argc)) {
      fprintf(stderr, "too many arguments\n");
      lua_close(L);
      return 1;
    }
    for (int i = 2; i < argc; i++) lua_pushstring(L, argv[i]);
    status = lua_pcall(L, argc - 2, 1, 0);
  }

  if (status == LUA_OK) {
    const char *text = luaL_tolstring(L, -1, NULL);
    printf("result: %s (%s)\n", text, luaL_typename(L, -2));
  } else {
    fprintf(stderr, "%s\n", lua_tostring(L, -1));
  }
  lua_close(L);
  return status == LUA_OK ? 0 : 1;
}
