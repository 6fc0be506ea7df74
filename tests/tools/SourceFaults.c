/* LD_PRELOAD shim for the image maker's tests: a source file misbehaves while it is read.
 * UMBRA_FAULT_FILES names the files (their last names, separated by '/'), UMBRA_FAULT what they do
 * from the first read of them on:
 *   short:N   the file ends after N bytes, whatever its size says (as files under /sys do)
 *   grow:N    N bytes are appended to it (a log being written)
 *   vanish    it is removed (the open file is still read to its end)
 *   rewrite   its first byte is written again, the size unchanged (a new time only)
 * Only fread is interposed: cdimage reads source files with it. Every other call goes to the C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int pathOf(FILE* stream, char* path, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
  const ssize_t n = readlink(link, path, size - 1);
  if (n < 0) return 0;
  path[n] = '\0';
  return 1;
}

static int isFaulty(const char* path) {
  const char* files = getenv("UMBRA_FAULT_FILES");
  const char* slash = strrchr(path, '/');
  const char* name = slash ? slash + 1 : path;
  const size_t length = strlen(name);
  for (const char* at = files; at && *at;) {
    const char* end = strchr(at, '/');
    const size_t n = end ? (size_t)(end - at) : strlen(at);
    if (n == length && strncmp(at, name, n) == 0) return 1;
    at = end ? end + 1 : NULL;
  }
  return 0;
}

static void appendBytes(const char* path, long count) {
  const int fd = open(path, O_WRONLY | O_APPEND);
  if (fd < 0) return;
  for (long i = 0; i < count; ++i) (void)!write(fd, "+", 1);
  close(fd);
}

static void rewriteFirstByte(const char* path) {
  const int fd = open(path, O_RDWR);
  if (fd < 0) return;
  char byte = 0;
  if (pread(fd, &byte, 1, 0) == 1) {
    byte = (char)(byte ^ 1);
    (void)!pwrite(fd, &byte, 1, 0);
  }
  close(fd);
}

size_t fread(void* buffer, size_t size, size_t count, FILE* stream) {
  static size_t (*real)(void*, size_t, size_t, FILE*);
  if (!real) real = (size_t(*)(void*, size_t, size_t, FILE*))dlsym(RTLD_NEXT, "fread");
  const char* fault = getenv("UMBRA_FAULT");
  char path[PATH_MAX];
  if (!fault || size != 1 || !pathOf(stream, path, sizeof path) || !isFaulty(path))
    return real(buffer, size, count, stream);
  const long position = ftell(stream);
  if (strncmp(fault, "short:", 6) == 0) {
    const long end = atol(fault + 6);
    if (position >= end) return 0;
    if ((long)count > end - position) count = (size_t)(end - position);
  } else if (position == 0 && strncmp(fault, "grow:", 5) == 0) {
    appendBytes(path, atol(fault + 5));
  } else if (position == 0 && strcmp(fault, "vanish") == 0) {
    unlink(path);
  } else if (position == 0 && strcmp(fault, "rewrite") == 0) {
    rewriteFirstByte(path);
  }
  return real(buffer, size, count, stream);
}
