/* A host class ACCOUNT with the attributes owner (read) and balance (read and write).
 * Scripts make accounts with the host function account(owner, balance); the class frees
 * an account when no value refers to it any more. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "velq_c.h"

struct account {
  char owner[32];
  int64_t balance;
};

static velq_status get_attribute(void *object, const char *name, velq_value **result,
                                 void *userdata) {
  struct account *account = object;
  if (strcmp(name, "owner") == 0)
    return velq_value_text(account->owner, strlen(account->owner), result);
  if (strcmp(name, "balance") == 0) return velq_value_int(account->balance, result);
  return VELQ_STATUS_INVALID; /* the script gets error 15 */
}

static velq_status set_attribute(void *object, const char *name, const velq_value *value,
                                 void *userdata) {
  struct account *account = object;
  if (strcmp(name, "balance") != 0) return VELQ_STATUS_INVALID;
  return velq_value_get_int(value, &account->balance);
}

static void destroy(void *object, void *userdata) {
  printf("closing the account of %s\n", ((struct account *)object)->owner);
  free(object);
}

/* account(owner, balance): a new ACCOUNT object. */
static velq_status account(velq_host_call *call, void *engine) {
  const char *owner;
  int64_t balance;
  velq_status status = velq_call_args(call, "sI", &owner, &balance);
  if (status != VELQ_OK) return status;
  struct account *account = calloc(1, sizeof *account);
  if (!account) return VELQ_STATUS_NO_MEMORY;
  snprintf(account->owner, sizeof account->owner, "%s", owner);
  account->balance = balance;
  velq_value *object;
  status = velq_value_object(engine, "ACCOUNT", account, &object);
  if (status != VELQ_OK) {
    free(account);
    return status;
  }
  return velq_call_return(call, object);
}

int main(void) {
  velq_engine *engine;
  velq_instance *instance = NULL;
  velq_error *error = NULL;
  velq_engine_new(&engine);
  velq_engine_add_class(engine, "ACCOUNT", get_attribute, set_attribute, destroy, NULL);
  velq_engine_add_function(engine, "account", 2, account, engine);

  velq_status status = velq_load_file(engine, "host_class.velq", &instance, &error);
  if (status == VELQ_OK) status = velq_run(instance, 0, NULL, NULL, &error);
  if (status != VELQ_OK) printf("%s\n", velq_error_message(error));

  velq_error_free(error);
  velq_instance_free(instance);
  velq_engine_free(engine);
  return 0;
}
