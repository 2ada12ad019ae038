/*
 * A host as a hospital's engineer writes one: plain C, built against nothing of ours but
 * qx_interface.h, loading the library with dlopen and finding the four functions by name.
 * Each scenario runs in a scratch directory of its own with a fresh load of the library, since
 * the library fixes its configuration path from the current directory when it is loaded.
 *
 * usage: api_host LIBRARY
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "qx_interface.h"

typedef int(QX_CALL* InitFn)(char*);
typedef int(QX_CALL* ConfigFn)(const char*, const char*, const char*, const char*);
typedef int(QX_CALL* BusinessFn)(const char*, char*);
typedef int(QX_CALL* ResultFn)(char*);

static const char* g_library;
static int g_passed, g_failed;
static char g_dir[4096];

struct Api {
  void* handle;
  InitFn init;
  ConfigFn config;
  BusinessFn business;
  ResultFn result;
};

#define CHECK(cond)                                                      \
  do {                                                                   \
    if (cond) {                                                          \
      ++g_passed;                                                        \
    } else {                                                             \
      ++g_failed;                                                        \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                                    \
  } while (0)

/* GBK bytes of the texts the library promises. */
#define T_INIT_DONE "\xB3\xF5\xCA\xBC\xBB\xAF\xB3\xC9\xB9\xA6" /* 初始化成功 */
#define T_NO_SERVER "\xBB\xF1\xC8\xA1\xB3\xF5\xCA\xBC\xBB\xAF\xC5\xE4\xD6\xC3server\xCA\xA7\xB0\xDC"
#define T_NO_PORT "\xBB\xF1\xC8\xA1\xB3\xF5\xCA\xBC\xBB\xAF\xC5\xE4\xD6\xC3port\xCA\xA7\xB0\xDC"
#define T_NO_SERVLET "\xBB\xF1\xC8\xA1\xB3\xF5\xCA\xBC\xBB\xAF\xC5\xE4\xD6\xC3servlet\xCA\xA7\xB0\xDC"
#define T_NO_FILE "\xB3\xF5\xCA\xBC\xBB\xAF\xC5\xE4\xD6\xC3\xCE\xC4\xBC\xFE\xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA("
#define T_NOT_INIT \
  "\xC3\xBB\xD3\xD0\xB3\xF5\xCA\xBC\xBB\xAF\xBD\xD3\xBF\xDA\xB2\xBB\xC4\xDC\xB5\xF7\xD3\xC3\xD4\xCB\xD0\xD0\xBA\xAF\xCA\xFD."

static void Load(struct Api* api) {
  api->handle = dlopen(g_library, RTLD_NOW | RTLD_LOCAL);
  if (api->handle == NULL) {
    fprintf(stderr, "dlopen %s: %s\n", g_library, dlerror());
    exit(2);
  }
  api->init = (InitFn)dlsym(api->handle, "init_handle");
  api->config = (ConfigFn)dlsym(api->handle, "config_handle");
  api->business = (BusinessFn)dlsym(api->handle, "business_handle");
  api->result = (ResultFn)dlsym(api->handle, "result_handle");
  if (!api->init || !api->config || !api->business || !api->result) {
    fprintf(stderr, "a function is missing from %s\n", g_library);
    exit(2);
  }
}

static void Unload(struct Api* api) {
  dlclose(api->handle);
  /* Unloading must really happen, so that the next scenario starts from a fresh load. */
  CHECK(dlopen(g_library, RTLD_NOW | RTLD_NOLOAD) == NULL);
}

static void WriteIni(const char* content) {
  FILE* f = fopen("qx_interface.ini", "wb");
  if (f == NULL) {
    perror("qx_interface.ini");
    exit(2);
  }
  fputs(content, f);
  fclose(f);
}

static char* ReadFile(const char* path) {
  static char content[8192];
  FILE* f = fopen(path, "rb");
  size_t n = 0;
  content[0] = '\0';
  if (f != NULL) {
    n = fread(content, 1, sizeof content - 1, f);
    fclose(f);
  }
  content[n] = '\0';
  return content;
}

/* A buffer as a host passes it: n spaces and a terminating zero. */
static char* Spaces(char* buffer, size_t n) {
  memset(buffer, ' ', n);
  buffer[n] = '\0';
  return buffer;
}

static int InitWith(const char* ini, char* message, size_t spaces) {
  struct Api api;
  int rc;
  WriteIni(ini);
  Load(&api);
  rc = api.init(Spaces(message, spaces));
  Unload(&api);
  return rc;
}

static void InitMessages(void) {
  char m[512];
  struct {
    const char* ini;
    const char* expected;
  } cases[] = {
      {"[center]\r\nport=80\r\nservlet=/s\r\n", T_NO_SERVER},
      {"[center]\r\nserver=127.0.0.1\r\nservlet=/s\r\n", T_NO_PORT "()"},
      {"[center]\r\nserver=127.0.0.1\r\nport=0\r\nservlet=/s\r\n", T_NO_PORT "(0)"},
      {"[center]\r\nserver=127.0.0.1\r\nport=-5\r\nservlet=/s\r\n", T_NO_PORT "(-5)"},
      {"[center]\r\nserver=127.0.0.1\r\nport=abc\r\nservlet=/s\r\n", T_NO_PORT "(abc)"},
      {"[center]\r\nserver=127.0.0.1\r\nport=80\r\n", T_NO_SERVLET},
      {"[center]\r\nport=80\r\n", T_NO_SERVLET}, /* server and servlet missing: the last wins */
      {"[other]\r\nserver=127.0.0.1\r\nport=80\r\nservlet=/s\r\n", T_NO_SERVLET},
  };
  size_t i;
  for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    CHECK(InitWith(cases[i].ini, m, 100) == -1);
    if (strcmp(m, cases[i].expected) != 0) {
      fprintf(stderr, "case %zu: got \"%s\"\n", i, m);
    }
    CHECK(strcmp(m, cases[i].expected) == 0);
  }

  /* "80x" is port 80: leading digits. */
  CHECK(InitWith("[center]\r\nserver=127.0.0.1\r\nport=80x\r\nservlet=/s\r\ncom=11\r\n", m, 40) ==
        1);
  CHECK(strcmp(m, T_INIT_DONE) == 0);

  /* Buffer rule: exactly 10 spaces take the 10-byte text; 9 do not; an empty buffer nothing. */
  CHECK(InitWith("[center]\r\nserver=127.0.0.1\r\nport=80\r\nservlet=/s\r\n", m, 10) == 1);
  CHECK(strcmp(m, T_INIT_DONE) == 0);
  CHECK(InitWith("[center]\r\nserver=127.0.0.1\r\nport=80\r\nservlet=/s\r\n", m, 9) == 1);
  CHECK(strcmp(m, "         ") == 0);
  CHECK(InitWith("[center]\r\nserver=127.0.0.1\r\nport=80\r\nservlet=/s\r\n", m, 0) == 1);
  CHECK(m[0] == '\0' && m[1] == ' ');

  /* No file: the message names the full path. */
  {
    struct Api api;
    char expected[5000];
    unlink("qx_interface.ini");
    Load(&api);
    CHECK(api.init(Spaces(m, 400)) == -1);
    snprintf(expected, sizeof expected, T_NO_FILE "%s/qx_interface.ini).", g_dir);
    CHECK(strcmp(m, expected) == 0);
    /* A null buffer is fine. */
    CHECK(api.init(NULL) == -1);
    Unload(&api);
  }
}

static void BusinessBeforeInit(void) {
  static const char expected[] =
      "<Program><ErrorNo>-3</ErrorNo><ErrorMessage>" T_NOT_INIT
      "</ErrorMessage><ErrorType>2</ErrorType><Exception></Exception></Program>";
  char reply[1024];
  char small[64];
  struct Api api;
  WriteIni("[center]\r\nserver=127.0.0.1\r\nport=80\r\n");
  Load(&api);
  CHECK(api.result(NULL) == 0);
  CHECK(api.business("<Program><FunctionID>0</FunctionID></Program>", Spaces(reply, 1000)) == -1);
  CHECK(strcmp(reply, expected) == 0);
  CHECK(api.result(NULL) == (int)strlen(expected));
  /* A buffer too short for the result XML is left as it was; result_handle hands it out. */
  CHECK(api.business("<Program><FunctionID>0</FunctionID></Program>", Spaces(small, 60)) == -1);
  CHECK(strcmp(small, Spaces(reply, 60)) == 0);
  memset(reply, 'x', sizeof reply);
  CHECK(api.result(reply) == (int)strlen(expected));
  CHECK(strcmp(reply, expected) == 0);
  /* A failed init after a good one leaves the library refusing business calls. */
  WriteIni("[center]\r\nserver=127.0.0.1\r\nport=80\r\nservlet=/s\r\n");
  CHECK(api.init(NULL) == 1);
  WriteIni("[center]\r\nserver=127.0.0.1\r\nport=80\r\n");
  CHECK(api.init(NULL) == -1);
  CHECK(api.business("<Program><FunctionID>0</FunctionID></Program>", Spaces(reply, 1000)) == -1);
  CHECK(strcmp(reply, expected) == 0);
  Unload(&api);
}

static void ConfigKeepsTheRest(void) {
  struct Api api;
  WriteIni("top=1\r\n[center]\r\nserver=a\r\nport=1\r\n[keep]\r\nx=\xB1\xB1\r\n");
  Load(&api);
  CHECK(api.config(NULL, NULL, NULL, NULL) == 0);
  CHECK(api.config(NULL, "8080", NULL, NULL) == 1);
  CHECK(strcmp(ReadFile("qx_interface.ini"),
               "[]\r\ntop=1\r\n\r\n[center]\r\nserver=a\r\nport=8080\r\n\r\n[keep]\r\nx=\xB1\xB1\r\n"
               "\r\n") == 0);
  unlink("qx_interface.ini");
  CHECK(api.config("10.0.0.1", NULL, "/qx", "3") == 1);
  CHECK(strcmp(ReadFile("qx_interface.ini"),
               "[center]\r\nserver=10.0.0.1\r\nservlet=/qx\r\ncom=3\r\n\r\n") == 0);
  Unload(&api);
}

static void ConfigIntoAReadOnlyDirectoryKeepsTheOldFile(void) {
  struct Api api;
  char before[8192];
  if (geteuid() == 0) {
    /* root writes anywhere: the directory's permissions prove nothing here. */
    return;
  }
  WriteIni("[center]\r\nserver=a\r\n");
  snprintf(before, sizeof before, "%s", ReadFile("qx_interface.ini"));
  Load(&api);
  chmod(".", 0555);
  CHECK(api.config("b", NULL, NULL, NULL) == -1);
  chmod(".", 0755);
  CHECK(strcmp(ReadFile("qx_interface.ini"), before) == 0);
  Unload(&api);
}

int main(int argc, char** argv) {
  char scratch[] = "/tmp/qx-api-host-XXXXXX";
  if (argc != 2) {
    fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
    return 2;
  }
  g_library = argv[1];
  if (mkdtemp(scratch) == NULL || chdir(scratch) != 0 || getcwd(g_dir, sizeof g_dir) == NULL) {
    perror("scratch directory");
    return 2;
  }
  /* Nobody is at the counter: no dialog helper, so boxes go to standard error. */
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");

  InitMessages();
  BusinessBeforeInit();
  ConfigKeepsTheRest();
  ConfigIntoAReadOnlyDirectoryKeepsTheOldFile();

  unlink("qx_interface.ini");
  if (chdir("/") == 0) {
    rmdir(scratch);
  }
  printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
