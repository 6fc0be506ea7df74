/* LD_PRELOAD shim for write-failure tests: pwrite fails from its Nth call on
 * (UMBRA_FAIL_PWRITE_FROM=N, errno UMBRA_FAIL_ERRNO or EIO), and fdatasync fails when
 * UMBRA_FAIL_FDATASYNC is set. Every other call goes to the C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static long pwriteCalls;

static int failureErrno(void) {
  const char* name = getenv("UMBRA_FAIL_ERRNO");
  return name && strcmp(name, "ENOSPC") == 0 ? ENOSPC : EIO;
}

static int pwriteShouldFail(void) {
  const char* from = getenv("UMBRA_FAIL_PWRITE_FROM");
  return from && ++pwriteCalls >= atol(from);
}

ssize_t pwrite64(int fd, const void* buf, size_t n, off_t offset) {
  static ssize_t (*real)(int, const void*, size_t, off_t);
  if (!real) real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite64");
  if (pwriteShouldFail()) {
    errno = failureErrno();
    return -1;
  }
  return real(fd, buf, n, offset);
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) { return pwrite64(fd, buf, n, offset); }

int fdatasync(int fd) {
  static int (*real)(int);
  if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
  if (getenv("UMBRA_FAIL_FDATASYNC")) {
    errno = failureErrno();
    return -1;
  }
  return real(fd);
}
