/* Gives scripts two host functions, mean(a, b) on numbers and words(text), which splits a
 * text into a table of words, and runs b.lua with them. */
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
#include <stdio.h>

/* mean(a, b): the mean of two numbers, as a float. */
static int mean(lua_State *L) {
  lua_Number a = luaL_checknumber(L, 1);
  lua_Number b = luaL_checknumber(L, 2);
  lua_pushnumber(L, (a + b) / 2);
  return 1;
}

/* words(text): the words of a text, at indexes 1, 2, ... */
static int words(lua_State *L) {
  size_t length;
  const char *text = luaL_checklstring(L, 1, &length);
  lua_newtable(L);
  lua_Integer count = 0;
  for (size_t i = 0; i < length;) {
    size_t start = i;
    while (i < length && text[i] != ' ') i++;
    if (i > start) {
      lua_pushlstring(L, text + start, i - start);
      lua_rawseti(L, -2, ++count);
    }
    while (i < length && text[i] == ' ') i++;
  }
  return 1;
}

int main(void) {
  lua_State *L = luaL_newstate();
  if (L == NULL) {
    fprintf(stderr, "cannot create a Lua state: not enough memory\n");
    return 1;
  }
  luaL_openlibs(L);
  lua_register(L, "mean", mean);
  lua_register(L, "words", words);

  int status = luaL_loadfile(L, "b.lua");
  if (status == LUA_OK) status = lua_pcall(L, 0, 0, 0);
  if (status != LUA_OK) fprintf(stderr, "%s\n", lua_tostring(L, -1));

  lua_close(L);
  return status == LUA_OK ? 0 : 1;
}
