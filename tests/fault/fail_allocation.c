/* Preloaded into the velq tool (LD_PRELOAD) to make the n-th allocation of the whole
   process fail, whoever asks for it: the tool's option parsing, file loading and
   reports, the standard library's strings, and the engine. VELQ_FAIL_ALLOCATION=n
   names the allocation (counted from the tool's start); at exit the library writes
   "reached" or "not reached" to the file VELQ_FAIL_REPORT, so that a sweep knows when n
   has passed the last allocation. Allocations go to the C library's own functions. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern void *__libc_malloc(size_t size);
extern void *__libc_calloc(size_t count, size_t size);
extern void *__libc_realloc(void *block, size_t size);
extern void *__libc_memalign(size_t alignment, size_t size);

static long countdown = 0; /* allocations until the one that fails; 0: none */
static int reached = 0;

static int failNow(void) {
  if (countdown == 0 || --countdown != 0) return 0;
  reached = 1;
  errno = ENOMEM;
  return 1;
}

__attribute__((constructor)) static void arm(void) {
  const char *n = getenv("VELQ_FAIL_ALLOCATION");
  if (n) countdown = strtol(n, NULL, 10);
}

__attribute__((destructor)) static void report(void) {
  const char *path = getenv("VELQ_FAIL_REPORT");
  if (!path) return;
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  const char *text = reached ? "reached\n" : "not reached\n";
  ssize_t written = write(fd, text, strlen(text));
  (void)written;
  close(fd);
}

void *malloc(size_t size) { return failNow() ? NULL : __libc_malloc(size); }
void *calloc(size_t count, size_t size) {
  return failNow() ? NULL : __libc_calloc(count, size);
}
void *realloc(void *block, size_t size) {
  return failNow() ? NULL : __libc_realloc(block, size);
}
int posix_memalign(void **out, size_t alignment, size_t size) {
  if (failNow()) return ENOMEM;
  void *block = __libc_memalign(alignment, size);
  if (!block) return ENOMEM;
  *out = block;
  return 0;
}
void *aligned_alloc(size_t alignment, size_t size) {
  return failNow() ? NULL : __libc_memalign(alignment, size);
}
void *memalign(size_t alignment, size_t size) {
  return failNow() ? NULL : __libc_memalign(alignment, size);
}
