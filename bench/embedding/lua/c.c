/* Loads c.lua once and calls its functions by name with arguments, reading a number, a
 * string and a table back. */
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
#include <stdio.h>

/* Calls the function under its argc arguments. On success its one result is on the
 * stack; on failure the error is printed and popped. */
static int call(lua_State *L, const char *function, int argc) {
  if (lua_pcall(L, argc, 1, 0) == LUA_OK) return 1;
  fprintf(stderr, "%s: %s\n", function, lua_tostring(L, -1));
  lua_pop(L, 1);
  return 0;
}

int main(void) {
  lua_State *L = luaL_newstate();
  if (L == NULL) {
    fprintf(stderr, "cannot create a Lua state: not enough memory\n");
    return 1;
  }
  luaL_openlibs(L);
  if (luaL_loadfile(L, "c.lua") != LUA_OK || lua_pcall(L, 0, 0, 0) != LUA_OK) {
    fprintf(stderr, "%s\n", lua_tostring(L, -1));
    lua_close(L);
    return 1;
  }

  /* A number: area(3, 4.5). */
  lua_getglobal(L, "area");
  lua_pushinteger(L, 3);
  lua_pushnumber(L, 4.5);
  if (call(L, "area", 2)) {
    int isnum;
    lua_Number area = lua_tonumberx(L, -1, &isnum);
    if (isnum) printf("area: %g\n", area);
    lua_pop(L, 1);
  }

  /* A string: label("widget", 3). */
  lua_getglobal(L, "label");
  lua_pushstring(L, "widget");
  lua_pushinteger(L, 3);
  if (call(L, "label", 2)) {
    const char *label = lua_tostring(L, -1);
    printf("label: %s\n", label ? label : "");
    lua_pop(L, 1);
  }

  /* A table: squares(3), walked in index order. */
  lua_getglobal(L, "squares");
  lua_pushinteger(L, 3);
  if (call(L, "squares", 1)) {
    if (lua_istable(L, -1)) {
      lua_Integer size = (lua_Integer)lua_rawlen(L, -1);
      for (lua_Integer i = 1; i <= size; i++) {
        lua_rawgeti(L, -1, i);
        printf("squares[%lld] = %lld\n", (long long)i, (long long)lua_tointeger(L, -1));
        lua_pop(L, 1);
      }
    }
    lua_pop(L, 1);
  }

  lua_close(L);
  return 0;
}
