/* The cost of one call of an empty Lua function through Lua 5.4's C API: lua_getglobal
 * and lua_pcall, as a host calls a script function by name.
 *   lua CALLS */
#define _POSIX_C_SOURCE 200809L
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double seconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
  long calls = argc > 1 ? atol(argv[1]) : 1000000;
  lua_State *state = luaL_newstate();
  luaL_openlibs(state);
  if (luaL_dostring(state, "function empty() end") != LUA_OK) return 1;
  for (long i = 0; i < calls / 100; i++) {
    lua_getglobal(state, "empty");
    lua_pcall(state, 0, 0, 0);
  }
  double start = seconds();
  for (long i = 0; i < calls; i++) {
    lua_getglobal(state, "empty");
    if (lua_pcall(state, 0, 0, 0) != LUA_OK) return 1;
  }
  double elapsed = seconds() - start;
  printf("Lua 5.4 C API (lua_getglobal + lua_pcall)\t%.1f\n", elapsed * 1e9 / calls);
  lua_close(state);
  return 0;
}
