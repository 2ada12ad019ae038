/*
 * A host as a hospital's engineer writes one on Windows: plain C, built against nothing of ours
 * but qx_interface.h, loading QX_Interface_center.dll with LoadLibraryA and finding the four
 * functions with GetProcAddress. Each scenario runs in a scratch directory with a fresh load of
 * the DLL, since the library fixes its configuration path from the current directory when it is
 * loaded. Nobody is at the counter: no scenario here leads to a message box.
 *
 * usage: qx_win_host LIBRARY   (a Unix path such as /work/x.dll is taken as Z:\work\x.dll)
 */
#include <objbase.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "qx_interface.h"

typedef int(QX_CALL* InitFn)(char*);
typedef int(QX_CALL* ConfigFn)(const char*, const char*, const char*, const char*);
typedef int(QX_CALL* BusinessFn)(const char*, char*);
typedef int(QX_CALL* ResultFn)(char*);
typedef HRESULT(__stdcall* GetClassObjectFn)(REFCLSID, REFIID, void**);
typedef HRESULT(__stdcall* ComFn)(void);

static char g_library[MAX_PATH * 4];
static int g_passed, g_failed;
static char g_dir[MAX_PATH * 4];

struct Api {
  HMODULE module;
  InitFn init;
  ConfigFn config;
  BusinessFn business;
  ResultFn result;
};

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (cond) {                                                                \
      ++g_passed;                                                              \
    } else {                                                                   \
      ++g_failed;                                                              \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                                          \
  } while (0)

/* GBK bytes of the texts the library promises. */
#define T_INIT_DONE "\xB3\xF5\xCA\xBC\xBB\xAF\xB3\xC9\xB9\xA6" /* 初始化成功 */
#define T_NO_SERVER "\xBB\xF1\xC8\xA1\xB3\xF5\xCA\xBC\xBB\xAF\xC5\xE4\xD6\xC3server\xCA\xA7\xB0\xDC"
#define T_NO_PORT "\xBB\xF1\xC8\xA1\xB3\xF5\xCA\xBC\xBB\xAF\xC5\xE4\xD6\xC3port\xCA\xA7\xB0\xDC"
#define T_NO_SERVLET \
  "\xBB\xF1\xC8\xA1\xB3\xF5\xCA\xBC\xBB\xAF\xC5\xE4\xD6\xC3servlet\xCA\xA7\xB0\xDC"
#define T_NO_FILE \
  "\xB3\xF5\xCA\xBC\xBB\xAF\xC5\xE4\xD6\xC3\xCE\xC4\xBC\xFE\xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA("
#define T_NOT_INIT                                                                           \
  "\xC3\xBB\xD3\xD0\xB3\xF5\xCA\xBC\xBB\xAF\xBD\xD3\xBF\xDA\xB2\xBB\xC4\xDC\xB5\xF7\xD3\xC3" \
  "\xD4\xCB\xD0\xD0\xBA\xAF\xCA\xFD."

static FARPROC Find(HMODULE module, const char* name) {
  FARPROC f = GetProcAddress(module, name);
  if (f == NULL) {
    fprintf(stderr, "%s is not exported by %s\n", name, g_library);
    exit(2);
  }
  return f;
}

static void Load(struct Api* api) {
  api->module = LoadLibraryA(g_library);
  if (api->module == NULL) {
    fprintf(stderr, "LoadLibraryA %s: error %lu\n", g_library, (unsigned long)GetLastError());
    exit(2);
  }
  api->init = (InitFn)(void*)Find(api->module, "init_handle");
  api->config = (ConfigFn)(void*)Find(api->module, "config_handle");
  api->business = (BusinessFn)(void*)Find(api->module, "business_handle");
  api->result = (ResultFn)(void*)Find(api->module, "result_handle");
}

static void Unload(struct Api* api) {
  CHECK(FreeLibrary(api->module));
  /* Unloading must really happen, so that the next scenario starts from a fresh load. */
  CHECK(GetModuleHandleA(g_library) == NULL);
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

static char* ReadFileText(const char* path) {
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

/* Files in the current directory, "." and ".." not counted. */
static int CountFiles(void) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("*", &data);
  int count = 0;
  if (find == INVALID_HANDLE_VALUE) {
    return 0;
  }
  do {
    if (strcmp(data.cFileName, ".") != 0 && strcmp(data.cFileName, "..") != 0) {
      ++count;
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return count;
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
      /* LF line ends read like CR LF. */
      {"[center]\nserver=127.0.0.1\nport=x\nservlet=/s\n", T_NO_PORT "(x)"},
  };
  size_t i;
  for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    CHECK(InitWith(cases[i].ini, m, 100) == -1);
    if (strcmp(m, cases[i].expected) != 0) {
      fprintf(stderr, "case %u: got \"%s\"\n", (unsigned)i, m);
    }
    CHECK(strcmp(m, cases[i].expected) == 0);
  }

  /* "80x" is port 80: leading digits. Making the connection object needs no network. */
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

  /* No file: the message names the full path, with a backslash before the file name. */
  {
    struct Api api;
    char expected[MAX_PATH * 4 + 200];
    DeleteFileA("qx_interface.ini");
    Load(&api);
    CHECK(api.init(Spaces(m, 400)) == -1);
    snprintf(expected, sizeof expected, T_NO_FILE "%s\\qx_interface.ini).", g_dir);
    if (strcmp(m, expected) != 0) {
      fprintf(stderr, "no file: got \"%s\"\n", m);
    }
    CHECK(strcmp(m, expected) == 0);
    CHECK(api.init(NULL) == -1); /* a null buffer is fine */
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
  CHECK(
      strcmp(ReadFileText("qx_interface.ini"),
             "[]\r\ntop=1\r\n\r\n[center]\r\nserver=a\r\nport=8080\r\n\r\n[keep]\r\nx=\xB1\xB1\r\n"
             "\r\n") == 0);
  DeleteFileA("qx_interface.ini");
  CHECK(api.config("10.0.0.1", NULL, "/qx", "3") == 1);
  CHECK(strcmp(ReadFileText("qx_interface.ini"),
               "[center]\r\nserver=10.0.0.1\r\nservlet=/qx\r\ncom=3\r\n\r\n") == 0);
  CHECK(CountFiles() == 1); /* no temporary file left beside it */
  Unload(&api);
}

/* A read-only configuration file cannot be replaced: config_handle says so and the file keeps
 * its content; the temporary file written beside it is gone again. */
static void ConfigOverAReadOnlyFileKeepsIt(void) {
  struct Api api;
  char before[8192];
  WriteIni("[center]\r\nserver=a\r\n");
  snprintf(before, sizeof before, "%s", ReadFileText("qx_interface.ini"));
  CHECK(SetFileAttributesA("qx_interface.ini", FILE_ATTRIBUTE_READONLY));
  Load(&api);
  CHECK(api.config("b", NULL, NULL, NULL) == -1);
  CHECK(strcmp(ReadFileText("qx_interface.ini"), before) == 0);
  CHECK(CountFiles() == 1);
  Unload(&api);
  SetFileAttributesA("qx_interface.ini", FILE_ATTRIBUTE_NORMAL);
}

/* The in-process COM server exports: no class of ours, nothing to register. */
static void ComServerExports(void) {
  HMODULE module = LoadLibraryA(g_library);
  void* object = (void*)1;
  static const CLSID any = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  CHECK(module != NULL);
  if (module == NULL) {
    return;
  }
  GetClassObjectFn get = (GetClassObjectFn)(void*)Find(module, "DllGetClassObject");
  CHECK(get(&any, &IID_IClassFactory, &object) == CLASS_E_CLASSNOTAVAILABLE);
  CHECK(object == NULL);
  CHECK(((ComFn)(void*)Find(module, "DllCanUnloadNow"))() == S_OK);
  CHECK(((ComFn)(void*)Find(module, "DllRegisterServer"))() == S_OK);
  /* Exactly the seven names: the library registers nothing, so it has nothing to unregister. */
  CHECK(GetProcAddress(module, "DllUnregisterServer") == NULL);
  /* Decorated names are not exported. */
  CHECK(GetProcAddress(module, "init_handle@4") == NULL);
  CHECK(GetProcAddress(module, "_init_handle@4") == NULL);
  FreeLibrary(module);
}

int main(int argc, char** argv) {
  char temp[MAX_PATH];
  char scratch[MAX_PATH * 2];
  if (argc != 2) {
    fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
    return 2;
  }
  /* Resolve the library's path before leaving the starting directory. */
  if (argv[1][0] == '/') {
    snprintf(g_library, sizeof g_library, "Z:%s", argv[1]);
  } else if (GetFullPathNameA(argv[1], sizeof g_library, g_library, NULL) == 0) {
    fprintf(stderr, "cannot resolve %s\n", argv[1]);
    return 2;
  }
  if (GetTempPathA(sizeof temp, temp) == 0) {
    fprintf(stderr, "no temporary directory\n");
    return 2;
  }
  /* Process ids repeat (under Wine they are small): a directory left by a run that was killed
     may hold the name, so take the next free one. */
  {
    unsigned attempt;
    BOOL created = FALSE;
    for (attempt = 0; attempt < 100 && !created; ++attempt) {
      snprintf(scratch, sizeof scratch, "%sqx-win-host-%lu-%u", temp,
               (unsigned long)GetCurrentProcessId(), attempt);
      created = CreateDirectoryA(scratch, NULL);
    }
    if (!created) {
      fprintf(stderr, "scratch directory %s: error %lu\n", scratch,
              (unsigned long)GetLastError());
      return 2;
    }
  }
  if (!SetCurrentDirectoryA(scratch) ||
      GetCurrentDirectoryA(sizeof g_dir, g_dir) == 0) {
    fprintf(stderr, "scratch directory %s: error %lu\n", scratch, (unsigned long)GetLastError());
    return 2;
  }

  InitMessages();
  BusinessBeforeInit();
  ConfigKeepsTheRest();
  ConfigOverAReadOnlyFileKeepsIt();
  ComServerExports();

  DeleteFileA("qx_interface.ini");
  SetCurrentDirectoryA(temp);
  RemoveDirectoryA(scratch);
  printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
