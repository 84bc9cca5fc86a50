/* A host class ACCOUNT with the fields owner (read) and balance (read and write): a full
 * userdata with a metatable. Scripts make accounts with the host function
 * account(owner, balance); __gc says when an account is collected. */
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
#include <stdio.h>
#include <string.h>

struct account {
  char owner[32];
  lua_Integer balance;
};

static int account_index(lua_State *L) {
  struct account *account = luaL_checkudata(L, 1, "ACCOUNT");
  const char *name = luaL_checkstring(L, 2);
  if (strcmp(name, "owner") == 0)
    lua_pushstring(L, account->owner);
  else if (strcmp(name, "balance") == 0)
    lua_pushinteger(L, account->balance);
  else
    return luaL_error(L, "ACCOUNT has no field '%s'", name);
  return 1;
}

static int account_newindex(lua_State *L) {
  struct account *account = luaL_checkudata(L, 1, "ACCOUNT");
  const char *name = luaL_checkstring(L, 2);
  if (strcmp(name, "balance") != 0)
    return luaL_error(L, "field '%s' of ACCOUNT cannot be written", name);
  account->balance = luaL_checkinteger(L, 3);
  return 0;
}

static int account_gc(lua_State *L) {
  struct account *account = luaL_checkudata(L, 1, "ACCOUNT");
  printf("closing the account of %s\n", account->owner);
  return 0;
}

static const luaL_Reg account_metamethods[] = {
    {"__index", account_index},
    {"__newindex", account_newindex},
    {"__gc", account_gc},
    {NULL, NULL},
};

/* account(owner, balance): a new ACCOUNT userdata. */
static int account_new(lua_State *L) {
  const char *owner = luaL_checkstring(L, 1);
  lua_Integer balance = luaL_checkinteger(L, 2);
  struct account *account = lua_newuserdatauv(L, sizeof *account, 0);
  snprintf(account->owner, sizeof account->owner, "%s", owner);
  account->balance = balance;
  luaL_setmetatable(L, "ACCOUNT");
  return 1;
}

int main(void) {
  lua_State *L = luaL_newstate();
  if (L == NULL) {
    fprintf(stderr, "cannot create a Lua state: not enough memory\n");
    return 1;
  }
  luaL_openlibs(L);
  luaL_newmetatable(L, "ACCOUNT");
  luaL_setfuncs(L, account_metamethods, 0);
  lua_pop(L, 1);
  lua_register(L, "account", account_new);

  int status = luaL_loadfile(L, "d.lua");
  if (status == LUA_OK) status = lua_pcall(L, 0, 0, 0);
  if (status != LUA_OK) printf("%s\n", lua_tostring(L, -1));

  lua_close(L);
  return 0;
}
