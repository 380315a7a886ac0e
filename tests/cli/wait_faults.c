/* Faults in the command line's wait for its renderer, loaded with LD_PRELOAD by the program tests:
 *   PITCH_WAIT_FAULT=no-pidfd  pidfd_open fails with ENOSYS, as on a kernel before 5.3
 *   PITCH_WAIT_FAULT=poll      poll fails with ENOMEM
 * Both variables are removed as the library loads, so the renderer the program starts runs
 * without the fault. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>

static int no_pidfd;
static int poll_fails;

__attribute__((constructor)) static void TakeFault(void) {
  const char* fault = getenv("PITCH_WAIT_FAULT");
  if (fault != NULL) {
    no_pidfd = strcmp(fault, "no-pidfd") == 0;
    poll_fails = strcmp(fault, "poll") == 0;
  }
  unsetenv("PITCH_WAIT_FAULT");
  unsetenv("LD_PRELOAD");
}

long syscall(long number, ...) {
  va_list list;
  va_start(list, number);
  long a[6];
  for (int i = 0; i < 6; ++i) {
    a[i] = va_arg(list, long);
  }
  va_end(list);
  if (no_pidfd && number == SYS_pidfd_open) {
    errno = ENOSYS;
    return -1;
  }
  long (*real)(long, ...);
  *(void**)&real = dlsym(RTLD_NEXT, "syscall"); /* POSIX's way to take a function's address */
  return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

int poll(struct pollfd* fds, nfds_t count, int timeout) {
  if (poll_fails) {
    errno = ENOMEM;
    return -1;
  }
  int (*real)(struct pollfd*, nfds_t, int);
  *(void**)&real = dlsym(RTLD_NEXT, "poll");
  return real(fds, count, timeout);
}
