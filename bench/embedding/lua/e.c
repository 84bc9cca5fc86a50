/* Runs untrusted scripts under budgets of time, instructions and memory, with no way to
 * load modules or reach files, and reports each error with its traceback:
 *   e SCRIPT... */
#define _POSIX_C_SOURCE 200809L /* clock_gettime */
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

/* The budgets of one state, and what it has used of them. */
struct budget {
  size_t memory_used, memory_limit; /* bytes held at once */
  long long steps, step_limit;      /* VM instructions, counted by the hook */
  double deadline;                  /* seconds on the monotonic clock */
};

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

/* The allocator: refuses a block that would take the state above its memory budget. */
static void *limited_alloc(void *ud, void *ptr, size_t osize, size_t nsize) {
  struct budget *budget = ud;
  size_t old = ptr ? osize : 0;
  if (nsize == 0) {
    free(ptr);
    budget->memory_used -= old;
    return NULL;
  }
  if (nsize > old && budget->memory_used + (nsize - old) > budget->memory_limit) return NULL;
  void *block = realloc(ptr, nsize);
  if (block) budget->memory_used = budget->memory_used - old + nsize;
  return block;
}

/* The count hook, every HOOK_STEPS instructions: stops the script past its budgets. */
enum { HOOK_STEPS = 1000 };
static void budget_hook(lua_State *L, lua_Debug *ar) {
  (void)ar;
  void *ud;
  lua_getallocf(L, &ud);
  struct budget *budget = ud;
  budget->steps += HOOK_STEPS;
  if (budget->steps > budget->step_limit) luaL_error(L, "step limit exceeded");
  if (now() > budget->deadline) luaL_error(L, "time limit exceeded");
}

/* Opens the libraries that only compute: no package (require), io, os or debug; and
 * takes away the base functions that read files. */
static int open_sandbox(lua_State *L) {
  static const luaL_Reg libraries[] = {
      {LUA_GNAME, luaopen_base},
      {LUA_STRLIBNAME, luaopen_string},
      {LUA_TABLIBNAME, luaopen_table},
      {LUA_MATHLIBNAME, luaopen_math},
      {LUA_UTF8LIBNAME, luaopen_utf8},
      {LUA_COLIBNAME, luaopen_coroutine},
      {NULL, NULL},
  };
  for (const luaL_Reg *library = libraries; library->func; library++) {
    luaL_requiref(L, library->name, library->func, 1);
    lua_pop(L, 1);
  }
  lua_pushnil(L);
  lua_setglobal(L, "dofile");
  lua_pushnil(L);
  lua_setglobal(L, "loadfile");
  return 0;
}

/* The message handler of lua_pcall: the error message with a traceback. */
static int traceback(lua_State *L) {
  const char *message = lua_tostring(L, 1);
  if (message == NULL)
    message = lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, 1));
  luaL_traceback(L, L, message, 1);
  return 1;
}

/* Runs one script in a state of its own; 0 when it finished. */
static int run_untrusted(const char *path) {
  struct budget budget = {0, 16 << 20, 0, 1000000, now() + 2.0};
  lua_State *L = lua_newstate(limited_alloc, &budget);
  if (L == NULL) {
    printf("%s: cannot create a Lua state: not enough memory\n", path);
    return 1;
  }
  lua_pushcfunction(L, open_sandbox);
  int status = lua_pcall(L, 0, 0, 0);
  if (status == LUA_OK) {
    lua_pushcfunction(L, traceback);
    status = luaL_loadfile(L, path);
    if (status == LUA_OK) {
      lua_sethook(L, budget_hook, LUA_MASKCOUNT, HOOK_STEPS);
      status = lua_pcall(L, 0, 0, 1);
    }
  }
  if (status == LUA_OK) {
    printf("%s: finished\n", path);
  } else {
    /* A memory error has no traceback: Lua calls no message handler for it. */
    const char *message = lua_tostring(L, -1);
    printf("%s\n", message ? message : "(error object is not a string)");
  }
  lua_close(L);
  return status == LUA_OK ? 0 : 1;
}

int main(int argc, char **argv) {
  int failures = 0;
  for (int i = 1; i < argc; i++) failures += run_untrusted(argv[i]);
  return failures ? 1 : 0;
}
