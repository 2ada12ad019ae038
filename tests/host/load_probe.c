/*
 * Two stand-ins for the host tests, in a process that has loaded nothing of ours:
 *   qx_load_probe LIBRARY   loads LIBRARY with dlopen, as a fresh host does (no libcurl in the
 *                           process yet), and prints the file of every shared object then mapped
 *                           (one a line, from /proc/self/maps); exit 0 when it loaded.
 *   zenity ...              (a link named so, put first on PATH): the dialog helper; appends the
 *                           descriptors it was started with ("N target" a line, then "end") to
 *                           the file named by QX_PROBE_FDS and answers 1 (Cancel).
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int ListDescriptors(void) {
  const char* path = getenv("QX_PROBE_FDS");
  char name[64], target[4096];
  struct dirent* entry;
  DIR* dir;
  FILE* out;
  if (path == NULL || (out = fopen(path, "ae")) == NULL) return 2;
  if ((dir = opendir("/proc/self/fd")) == NULL) return 2;
  while ((entry = readdir(dir)) != NULL) {
    const int fd = atoi(entry->d_name);
    ssize_t n;
    if (entry->d_name[0] == '.' || fd == dirfd(dir) || fd == fileno(out)) continue;
    snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    n = readlink(name, target, sizeof target - 1);
    target[n < 0 ? 0 : n] = '\0';
    fprintf(out, "%d %s\n", fd, target);
  }
  closedir(dir);
  fputs("end\n", out);
  fclose(out);
  return 1;
}

int main(int argc, char** argv) {
  char line[4096];
  const char* base = strrchr(argv[0], '/');
  FILE* maps;
  if (strcmp(base == NULL ? argv[0] : base + 1, "zenity") == 0) return ListDescriptors();
  if (argc != 2) return 2;
  if (dlopen(argv[1], RTLD_NOW | RTLD_LOCAL) == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  maps = fopen("/proc/self/maps", "r");
  if (maps == NULL) return 1;
  while (fgets(line, sizeof line, maps) != NULL) {
    const char* file = strchr(line, '/');
    if (file != NULL && strstr(file, ".so") != NULL) fputs(file, stdout);
  }
  fclose(maps);
  return 0;
}
