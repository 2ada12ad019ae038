/*
 * The host's side of the host-level scenarios, in plain C against nothing of ours but
 * qx_interface.h: it loads the library by name (dlopen on Linux, LoadLibraryA on Windows), plays
 * each scenario of the table through the four functions, and checks what came out: each call's
 * result and the bytes in the host's buffer, the requests the center received, the boxes and
 * dialogs the clerk was shown (and answered as the table says), the card and the configuration
 * file afterwards. The center's side is played by qx-scenario-center (scenario_center.c); its
 * ports come in QX_SCENARIO_PORTS ("main alt control dead"), set by run_scenarios.sh.
 *
 * Each scenario runs in a scratch directory of its own with a fresh load of the library, since
 * the library fixes its configuration path from the current directory when it is loaded.
 *
 * The clerk: on Windows a thread finds each dialog of this process, reads its caption and text,
 * fills the fields and presses the button the table names. On Linux the library shows its boxes
 * through the dialog helper program; run_scenarios.sh puts a recording one on PATH
 * (tests/support/fake-zenity.sh), and this program queues its answers in QX_FAKE_DIALOG_DIR.
 *
 * usage: qx_scenario_host TARGET LIBRARY TABLE [NAME-PART]
 *   TARGET is "so", "x64" or "x86": the rows marked for a target run there only. Unix paths are
 *   taken as Wine's Z: drive on Windows. Prints one line per scenario, then
 *   "scenarios (TARGET): N passed, N failed, N skipped". Exit 0 when none failed, 1 when one
 *   did, 2 when the run could not be set up.
 */
#ifdef _WIN32
/* winsock2.h before windows.h, which would bring the old winsock.h */
#include <winsock2.h>

#include <direct.h>
#include <windows.h>
#else
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <iconv.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qx_interface.h"

typedef int(QX_CALL* InitFn)(char*);
typedef int(QX_CALL* ConfigFn)(const char*, const char*, const char*, const char*);
typedef int(QX_CALL* BusinessFn)(const char*, char*);
typedef int(QX_CALL* ResultFn)(char*);

enum { kMaxWild = 16, kMaxDialogs = 16, kMaxAnswers = 64 };

/* ---- bytes, and patterns whose ${*} matches any bytes --------------------------------------- */

struct Bytes {
  char* p;
  size_t n, cap;
  size_t wild[kMaxWild]; /* offsets where a ${*} stands */
  int nwild;
};

/* data may lie within b itself (a repetition). */
static void Append(struct Bytes* b, const char* data, size_t n) {
  if (b->n + n + 1 > b->cap) {
    int inside = b->p != NULL && data >= b->p && data < b->p + b->n;
    size_t offset = inside ? (size_t)(data - b->p) : 0;
    b->cap = (b->n + n + 1) * 2;
    b->p = realloc(b->p, b->cap);
    if (inside && b->p != NULL) data = b->p + offset;
    if (b->p == NULL) {
      fputs("out of memory\n", stderr);
      exit(2);
    }
  }
  memcpy(b->p + b->n, data, n);
  b->n += n;
  b->p[b->n] = '\0';
}

static void Clear(struct Bytes* b) {
  free(b->p);
  memset(b, 0, sizeof *b);
}

static const char* Find(const char* hay, size_t n, const char* needle, size_t m) {
  size_t i;
  if (m == 0) return hay;
  for (i = 0; i + m <= n; ++i) {
    if (memcmp(hay + i, needle, m) == 0) return hay + i;
  }
  return NULL;
}

static int Matches(const struct Bytes* pattern, const char* text, size_t n) {
  size_t start = 0, at = 0;
  int w;
  if (pattern->nwild == 0) return n == pattern->n && memcmp(text, pattern->p, n) == 0;
  for (w = 0; w <= pattern->nwild; ++w) {
    size_t end = w < pattern->nwild ? pattern->wild[w] : pattern->n;
    size_t len = end - start;
    if (w == 0) {
      if (n < len || memcmp(text, pattern->p, len) != 0) return 0;
      at = len;
    } else if (w == pattern->nwild) {
      if (n - at < len || memcmp(text + n - len, pattern->p + start, len) != 0) return 0;
    } else {
      const char* found = Find(text + at, n - at, pattern->p + start, len);
      if (found == NULL) return 0;
      at = (size_t)(found - text) + len;
    }
    start = end;
  }
  return 1;
}

/* ---- the report ------------------------------------------------------------------------------ */

static const char* g_target;
static int g_line;   /* the table line being played */
static int g_failed; /* checks failed in this scenario */

/* The first 240 bytes of a text that differs, or QX_SCENARIO_SHOW bytes. */
static void Shown(const char* what, const char* p, size_t n) {
  const char* wanted = getenv("QX_SCENARIO_SHOW");
  size_t i, limit = wanted != NULL ? (size_t)strtoul(wanted, NULL, 10) : 240,
            shown = n < limit ? n : limit;
  fprintf(stderr, "    %s (%lu bytes): \"", what, (unsigned long)n);
  for (i = 0; i < shown; ++i) {
    unsigned char c = (unsigned char)p[i];
    if (c == '\\' || c == '"') {
      fprintf(stderr, "\\%c", c);
    } else if (c >= 0x20 && c < 0x7f) {
      fputc(c, stderr);
    } else if (c == '\r') {
      fputs("\\r", stderr);
    } else if (c == '\n') {
      fputs("\\n", stderr);
    } else {
      fprintf(stderr, "\\x%02X", c);
    }
  }
  fputs(n > shown ? "\"...\n" : "\"\n", stderr);
}

static void Fail(const char* format, ...) {
  va_list args;
  ++g_failed;
  fprintf(stderr, "  line %d: ", g_line);
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
}

static void ExpectBytes(const char* what, const struct Bytes* expected, const char* p, size_t n) {
  if (!Matches(expected, p, n)) {
    Fail("%s differs", what);
    Shown("expected", expected->p, expected->n);
    Shown("actual", p, n);
  }
}

static void ExpectInt(const char* what, long expected, long actual) {
  if (expected != actual) Fail("%s: expected %ld, got %ld", what, expected, actual);
}

/* ---- the platform ---------------------------------------------------------------------------- */

struct Dialog {
  char kind; /* b box, c credentials, p password */
  struct Bytes caption, text, first, second;
  char answer; /* o ok, c cancel, r retry */
};

static struct Dialog g_queued[kMaxDialogs], g_seen[kMaxDialogs];
static int g_queued_count, g_seen_count;

static void ClearDialog(struct Dialog* d) {
  Clear(&d->caption);
  Clear(&d->text);
  Clear(&d->first);
  Clear(&d->second);
}

/* Forgets the dialogs seen in the scenario before. */
static void ClearSeen(void) {
  int i;
  for (i = 0; i < kMaxDialogs; ++i) ClearDialog(&g_seen[i]);
  g_seen_count = 0;
}

static void ReadWhole(const char* path, struct Bytes* out) {
  char chunk[65536];
  size_t n;
  FILE* f = fopen(path, "rb");
  Clear(out);
  Append(out, "", 0);
  if (f == NULL) return;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) Append(out, chunk, n);
  fclose(f);
}

static int WriteWhole(const char* path, const struct Bytes* content) {
  FILE* f = fopen(path, "wb");
  if (f == NULL) return -1;
  fwrite(content->p, 1, content->n, f);
  return fclose(f);
}

#ifdef _WIN32
typedef HMODULE Library;
static CRITICAL_SECTION g_dialog_lock;
static int g_next_queued;

static void Path(const char* unix_path, char* out, size_t size) {
  size_t i;
  snprintf(out, size, "%s%s", unix_path[0] == '/' ? "Z:" : "", unix_path);
  for (i = 0; out[i] != '\0'; ++i) {
    if (out[i] == '/') out[i] = '\\';
  }
}
static Library LoadLib(const char* path) { return LoadLibraryA(path); }
static void* Symbol(Library lib, const char* name) { return (void*)GetProcAddress(lib, name); }
static int Unload(Library lib, const char* path) {
  FreeLibrary(lib);
  return GetModuleHandleA(path) == NULL;
}
/* The card reader reads its settings with getenv, from the C runtime's copy of the environment
 * (msvcrt.dll's, shared with this program), which SetEnvironmentVariableA does not reach. */
static void SetVariable(const char* name, const char* value) {
  SetEnvironmentVariableA(name, value);
  _putenv_s(name, value);
}
static void UnsetVariable(const char* name) {
  SetEnvironmentVariableA(name, NULL);
  _putenv_s(name, "");
}
static void Pause(unsigned long ms) { Sleep((DWORD)ms); }
/* ---- proxy-setting: the system's proxy, in the current user's Internet Settings ----
 * Wine's WinInet reads http_proxy from the environment only once in a process (as it was when
 * wininet.dll's C runtime started), but the registry at every InternetOpen: a scenario that
 * needs a proxy on Windows sets it here, ProxyEnable 1 and ProxyServer, before the library is
 * loaded, and both values are removed after the scenario. */
static const char kInternetSettings[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
static void SetSystemProxy(const char* server) {
  HKEY key;
  DWORD enable = 1;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, NULL, 0, KEY_SET_VALUE, NULL, &key,
                      NULL) != ERROR_SUCCESS) {
    fputs("cannot open the Internet Settings\n", stderr);
    exit(2);
  }
  RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, (const BYTE*)&enable, sizeof enable);
  RegSetValueExA(key, "ProxyServer", 0, REG_SZ, (const BYTE*)server, (DWORD)strlen(server) + 1);
  RegCloseKey(key);
}
static void RemoveSystemProxy(void) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_SET_VALUE, &key) ==
      ERROR_SUCCESS) {
    RegDeleteValueA(key, "ProxyEnable");
    RegDeleteValueA(key, "ProxyServer");
    RegCloseKey(key);
  }
}
/* ---- end of proxy-setting ---- */
static int MakeScratch(char* dir, size_t size, int number) {
  char base[MAX_PATH];
  int attempt;
  GetTempPathA(sizeof base, base);
  /* Process ids repeat (under Wine they are small): a directory left by a killed run may hold
   * the name, so take the next free one. */
  for (attempt = 0; attempt < 100; ++attempt) {
    snprintf(dir, size, "%sqx-scenario-%lu-%d-%d", base, (unsigned long)GetCurrentProcessId(),
             number, attempt);
    if (CreateDirectoryA(dir, NULL)) return 0;
  }
  return -1;
}
/* The scratch folder with its files and its folders (the log's) one level down. */
static void RemoveScratch(const char* dir) {
  char pattern[MAX_PATH + 4], file[2 * MAX_PATH];
  WIN32_FIND_DATAA data;
  HANDLE find;
  snprintf(pattern, sizeof pattern, "%s\\*", dir);
  find = FindFirstFileA(pattern, &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0) continue;
      snprintf(file, sizeof file, "%s\\%s", dir, data.cFileName);
      SetFileAttributesA(file, FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveScratch(file);
      } else if (!DeleteFileA(file)) {
        fprintf(stderr, "could not remove %s\n", file);
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  if (!RemoveDirectoryA(dir)) fprintf(stderr, "could not remove %s\n", dir);
}
static int ChangeDirectory(const char* dir) { return _chdir(dir); }
static void MakeReadOnly(const char* path) { SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY); }
typedef SOCKET Socket;
#define kNoSocket INVALID_SOCKET
#define CloseSocket closesocket

/* The clerk at a Windows desk: finds each new dialog window of this process, reads it, answers
 * it from the queue (or cancels it when nothing is queued). */
struct Found {
  HWND dialog;
  HWND edits[2];
  int edit_count;
  struct Bytes statics;
};

static BOOL CALLBACK Child(HWND child, LPARAM param) {
  struct Found* found = (struct Found*)param;
  char klass[64] = "", text[1024] = "";
  GetClassNameA(child, klass, sizeof klass);
  if (lstrcmpiA(klass, "Edit") == 0) {
    if (found->edit_count < 2 && IsWindowVisible(child)) found->edits[found->edit_count++] = child;
  } else if (lstrcmpiA(klass, "Static") == 0 && found->statics.n == 0) {
    int n = GetWindowTextA(child, text, sizeof text);
    if (n > 0) Append(&found->statics, text, (size_t)n);
  }
  return TRUE;
}

static HWND g_handled[256];
static int g_handled_count;

static BOOL CALLBACK TopLevel(HWND window, LPARAM param) {
  char klass[64] = "";
  DWORD process = 0;
  int i;
  GetWindowThreadProcessId(window, &process);
  GetClassNameA(window, klass, sizeof klass);
  if (process != GetCurrentProcessId() || strcmp(klass, "#32770") != 0 ||
      !IsWindowVisible(window)) {
    return TRUE;
  }
  for (i = 0; i < g_handled_count; ++i) {
    if (g_handled[i] == window) return TRUE;
  }
  *(HWND*)param = window;
  return FALSE;
}

static DWORD WINAPI Clerk(LPVOID unused) {
  (void)unused;
  for (;;) {
    HWND dialog = NULL;
    struct Found found;
    struct Dialog seen, answer;
    char caption[1024] = "";
    int n;
    Sleep(20);
    EnumWindows(TopLevel, (LPARAM)&dialog);
    if (dialog == NULL) continue;
    Sleep(50); /* let it finish drawing its children */
    memset(&found, 0, sizeof found);
    EnumChildWindows(dialog, Child, (LPARAM)&found);
    memset(&seen, 0, sizeof seen);
    n = GetWindowTextA(dialog, caption, sizeof caption);
    seen.kind = found.edit_count >= 2 ? 'c' : found.edit_count == 1 ? 'p' : 'b';
    Append(&seen.caption, caption, n > 0 ? (size_t)n : 0);
    Append(&seen.text, found.statics.p ? found.statics.p : "", found.statics.n);
    Clear(&found.statics);
    EnterCriticalSection(&g_dialog_lock);
    memset(&answer, 0, sizeof answer);
    answer.answer = 'c';
    if (g_next_queued < g_queued_count) answer = g_queued[g_next_queued++];
    if (g_seen_count < kMaxDialogs) g_seen[g_seen_count++] = seen;
    if (g_handled_count < 256) g_handled[g_handled_count++] = dialog;
    LeaveCriticalSection(&g_dialog_lock);
    if (answer.answer != 'c' && seen.kind == 'c') {
      SendMessageA(found.edits[0], WM_SETTEXT, 0, (LPARAM)answer.first.p);
      SendMessageA(found.edits[1], WM_SETTEXT, 0, (LPARAM)answer.second.p);
    } else if (answer.answer != 'c' && seen.kind == 'p') {
      size_t i;
      for (i = 0; i < answer.first.n; ++i) {
        SendMessageA(found.edits[0], WM_CHAR, (unsigned char)answer.first.p[i], 0);
      }
    }
    PostMessageA(dialog, WM_COMMAND,
                 answer.answer == 'r'   ? IDRETRY
                 : answer.answer == 'o' ? IDOK
                                        : IDCANCEL,
                 0);
  }
  return 0;
}

static void StartClerk(void) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  InitializeCriticalSection(&g_dialog_lock);
  CreateThread(NULL, 0, Clerk, NULL, 0, NULL);
}
static void QueueDialogs(void) {
  EnterCriticalSection(&g_dialog_lock);
  g_next_queued = 0;
  ClearSeen();
  LeaveCriticalSection(&g_dialog_lock);
}
static void CollectDialogs(void) {
  /* A dialog being answered is gone within moments. */
  Sleep(100);
}
#else
typedef void* Library;
static char g_dialog_dir[4096];

static void Path(const char* unix_path, char* out, size_t size) {
  snprintf(out, size, "%s", unix_path);
}
static Library LoadLib(const char* path) {
  Library lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (lib == NULL) fprintf(stderr, "%s\n", dlerror());
  return lib;
}
static void* Symbol(Library lib, const char* name) { return dlsym(lib, name); }
static int Unload(Library lib, const char* path) {
  dlclose(lib);
  return dlopen(path, RTLD_NOW | RTLD_NOLOAD) == NULL;
}
static void SetVariable(const char* name, const char* value) { setenv(name, value, 1); }
static void UnsetVariable(const char* name) { unsetenv(name); }
/* proxy-setting is a Windows setting: a POSIX row has no use for it. */
static void SetSystemProxy(const char* server) {
  (void)server;
  Fail("proxy-setting is a Windows setting: mark the line [windows]");
}
static void RemoveSystemProxy(void) {}
static void Pause(unsigned long ms) {
  struct timespec wait = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0) {
  }
}
static int MakeScratch(char* dir, size_t size, int number) {
  (void)number;
  snprintf(dir, size, "/tmp/qx-scenario-XXXXXX");
  return mkdtemp(dir) == NULL ? -1 : 0;
}
static void RemoveScratch(const char* dir) {
  char command[8300];
  snprintf(command, sizeof command, "chmod -R u+w '%s' && rm -rf '%s'", dir, dir);
  if (system(command) != 0) fprintf(stderr, "could not remove %s\n", dir);
}
static int ChangeDirectory(const char* dir) { return chdir(dir); }
static void MakeReadOnly(const char* path) { chmod(path, 0444); }
typedef int Socket;
#define kNoSocket (-1)
#define CloseSocket close

static void StartClerk(void) {
  const char* dir = getenv("QX_FAKE_DIALOG_DIR");
  if (dir == NULL) {
    fputs("QX_FAKE_DIALOG_DIR is not set (run through run_scenarios.sh)\n", stderr);
    exit(2);
  }
  snprintf(g_dialog_dir, sizeof g_dialog_dir, "%s", dir);
}

/* The helper's answers: "CODE OUTPUT" a line. OK and Retry are exit 0, Cancel 1. */
static void QueueDialogs(void) {
  char path[4200];
  int i;
  FILE* f;
  snprintf(path, sizeof path, "%s/calls", g_dialog_dir);
  remove(path);
  snprintf(path, sizeof path, "%s/answers", g_dialog_dir);
  f = fopen(path, "wb");
  if (f == NULL) exit(2);
  for (i = 0; i < g_queued_count; ++i) {
    const struct Dialog* d = &g_queued[i];
    if (d->answer == 'c') {
      fputs("1\n", f);
    } else if (d->kind == 'c') {
      fprintf(f, "0 %s|%s\n", d->first.p, d->second.p);
    } else if (d->kind == 'p') {
      fprintf(f, "0 %s\n", d->first.p);
    } else {
      fputs("0\n", f);
    }
  }
  fclose(f);
  ClearSeen();
}

static void FromUtf8(const char* utf8, struct Bytes* out) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  char buffer[4096];
  char* in = (char*)utf8;
  char* o = buffer;
  size_t in_left = strlen(utf8), out_left = sizeof buffer;
  iconv(cd, &in, &in_left, &o, &out_left);
  iconv_close(cd);
  Append(out, buffer, sizeof buffer - out_left);
}

/* Arguments are separated by 0x1F, calls by 0x1E (tests/support/fake-zenity.sh). */
static void CollectDialogs(void) {
  struct Bytes calls = {0};
  char path[4200];
  size_t at = 0;
  snprintf(path, sizeof path, "%s/calls", g_dialog_dir);
  ReadWhole(path, &calls);
  while (at < calls.n && g_seen_count < kMaxDialogs) {
    char* end = memchr(calls.p + at, '\x1E', calls.n - at);
    struct Dialog* d = &g_seen[g_seen_count++];
    char* arg = calls.p + at;
    if (end == NULL) break;
    *end = '\0';
    memset(d, 0, sizeof *d);
    d->kind = strstr(arg, "--username") ? 'c' : strstr(arg, "--entry") ? 'p' : 'b';
    while (arg < end) {
      char* stop = memchr(arg, '\x1F', (size_t)(end - arg));
      if (stop == NULL) stop = end;
      *stop = '\0';
      if (strncmp(arg, "--title=", 8) == 0) FromUtf8(arg + 8, &d->caption);
      if (strncmp(arg, "--text=", 7) == 0) FromUtf8(arg + 7, &d->text);
      arg = stop + 1;
    }
    at = (size_t)(end - calls.p) + 1;
  }
  Clear(&calls);
}
#endif

/* ---- the center's control port --------------------------------------------------------------- */

static unsigned short g_ports[4]; /* main alt control dead */

static Socket Connect(unsigned short port) {
  struct sockaddr_in address;
  Socket s = socket(AF_INET, SOCK_STREAM, 0);
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (s == kNoSocket || connect(s, (struct sockaddr*)&address, sizeof address) != 0) {
    fprintf(stderr, "cannot reach the center's control port %u\n", port);
    exit(2);
  }
  return s;
}

static void SendText(Socket s, const char* p, size_t n) {
  while (n > 0) {
    int sent = send(s, p, n > 65536 ? 65536 : (int)n, 0);
    if (sent <= 0) {
      fputs("the center's control connection broke\n", stderr);
      exit(2);
    }
    p += sent;
    n -= (size_t)sent;
  }
}

/* Everything the center says until it closes. */
static void ReceiveAll(Socket s, struct Bytes* out) {
  char chunk[65536];
  int n;
  Clear(out);
  Append(out, "", 0);
  while ((n = recv(s, chunk, sizeof chunk, 0)) > 0) Append(out, chunk, (size_t)n);
}

/* ---- the table ------------------------------------------------------------------------------- */

struct Macro {
  char name[32];
  struct Bytes value;
};
enum { kMaxMacros = 128 };
static struct Macro g_macros[kMaxMacros];
static int g_macro_count;

/* The latest definition of name: a table may define again what its prelude defined. */
static const struct Bytes* Lookup(const char* name, size_t n) {
  int i;
  for (i = g_macro_count - 1; i >= 0; --i) {
    if (strlen(g_macros[i].name) == n && memcmp(g_macros[i].name, name, n) == 0) {
      return &g_macros[i].value;
    }
  }
  return NULL;
}

static void SkipBlanks(const char** c) {
  while (**c == ' ' || **c == '\t') ++*c;
}

/* A bare word into word (at most size - 1 bytes); 0 when there is none. */
static int Word(const char** c, char* word, size_t size) {
  size_t n = 0;
  SkipBlanks(c);
  while (**c != '\0' && **c != ' ' && **c != '\t' && **c != '"' && **c != ',') {
    if (n + 1 < size) word[n++] = **c;
    ++*c;
  }
  word[n] = '\0';
  return n > 0;
}

static int IsWord(const char** c, const char* expected) {
  const char* save = *c;
  char word[64];
  if (Word(c, word, sizeof word) && strcmp(word, expected) == 0) return 1;
  *c = save;
  return 0;
}

/* One or more adjacent quoted strings, each perhaps followed by *N (repeated N times), joined as
 * in C; a comma before them parts them from the string before. Escapes
 * \r \n \t \0 \\ \" \xHH; ${NAME} is a definition or a port, ${*} a wildcard. 0 when none. */
static int String(const char** c, struct Bytes* out) {
  int any = 0;
  Clear(out);
  Append(out, "", 0);
  for (;;) {
    size_t start = out->n, count = 1, i, length;
    SkipBlanks(c);
    if (!any && **c == ',') { /* a comma parts two strings that would otherwise join */
      ++*c;
      SkipBlanks(c);
    }
    if (**c != '"') return any;
    any = 1;
    for (++*c; **c != '"'; ++*c) {
      char ch = **c;
      if (ch == '\0') {
        Fail("unterminated string");
        return any;
      }
      if (ch == '\\') {
        char e = *++*c;
        if (e == 'x') {
          char hex[3] = {(*c)[1], (*c)[2], 0};
          ch = (char)strtoul(hex, NULL, 16);
          *c += 2;
        } else {
          ch = e == 'r' ? '\r' : e == 'n' ? '\n' : e == 't' ? '\t' : e == '0' ? '\0' : e;
        }
        Append(out, &ch, 1);
      } else if (ch == '$' && (*c)[1] == '{') {
        const char* name = *c + 2;
        const char* end = strchr(name, '}');
        char number[16];
        const struct Bytes* macro;
        if (end == NULL) {
          Fail("unterminated ${");
          return any;
        }
        if (end - name == 1 && *name == '*') {
          if (out->nwild == kMaxWild) Fail("more than %d ${*} in one string", kMaxWild);
          if (out->nwild < kMaxWild) out->wild[out->nwild++] = out->n;
        } else if ((macro = Lookup(name, (size_t)(end - name))) != NULL) {
          size_t base = out->n;
          int w;
          if (out->nwild + macro->nwild > kMaxWild)
            Fail("more than %d ${*} in one string", kMaxWild);
          for (w = 0; w < macro->nwild && out->nwild < kMaxWild; ++w) {
            out->wild[out->nwild++] = base + macro->wild[w];
          }
          Append(out, macro->p, macro->n);
        } else {
          const char* names[] = {"PORT", "ALT", "CONTROL", "DEAD"};
          int k, found = 0;
          for (k = 0; k < 4; ++k) {
            if ((size_t)(end - name) == strlen(names[k]) &&
                !memcmp(name, names[k], strlen(names[k]))) {
              snprintf(number, sizeof number, "%u", g_ports[k]);
              Append(out, number, strlen(number));
              found = 1;
            }
          }
          if (!found) Fail("unknown name ${%.*s}", (int)(end - name), name);
        }
        *c = end;
      } else {
        Append(out, &ch, 1);
      }
    }
    ++*c;
    if (**c == '*') {
      ++*c;
      count = strtoul(*c, (char**)c, 10);
    }
    for (i = 1, length = out->n - start; i < count; ++i) Append(out, out->p + start, length);
  }
}

/* A string, or the word null (*is_null set). */
static int StringOrNull(const char** c, struct Bytes* out, int* is_null) {
  SkipBlanks(c);
  if (**c == ',') ++*c;
  *is_null = IsWord(c, "null");
  if (*is_null) return 1;
  return String(c, out);
}

/* "-> N" */
static int Arrow(const char** c, long* value) {
  char word[32];
  if (!IsWord(c, "->") || !Word(c, word, sizeof word)) {
    Fail("expected \"-> RESULT\"");
    return 0;
  }
  *value = strtol(word, NULL, 10);
  return 1;
}

/* The table, cut into logical lines (a line ending in a backslash goes on on the next). */
struct Line {
  int number;
  char* text;
};
static struct Line* g_lines;
static int g_line_count;

static void ReadTable(const char* path) {
  struct Bytes all = {0};
  char* p;
  int number = 1;
  ReadWhole(path, &all);
  if (all.n == 0) {
    fprintf(stderr, "cannot read the table %s\n", path);
    exit(2);
  }
  g_lines = calloc(all.n + 1, sizeof *g_lines);
  for (p = all.p; *p != '\0';) {
    char* end = strchr(p, '\n');
    char* write;
    char* read;
    int in_string = 0;
    struct Line* line = &g_lines[g_line_count++];
    line->number = number;
    /* join continuations */
    while (end != NULL && end > p && (end[-1] == '\\' || (end[-1] == '\r' && end[-2] == '\\'))) {
      char* bs = end[-1] == '\\' ? end - 1 : end - 2;
      memmove(bs, end + 1, strlen(end + 1) + 1);
      ++number;
      end = strchr(bs, '\n');
    }
    if (end != NULL) *end = '\0';
    /* drop comments outside strings, and a CR at the end */
    for (read = write = p; *read != '\0'; ++read) {
      if (*read == '"' && (read == p || read[-1] != '\\')) in_string = !in_string;
      if (*read == '#' && !in_string) break;
      *write++ = *read;
    }
    while (write > p && (write[-1] == ' ' || write[-1] == '\r' || write[-1] == '\t')) --write;
    *write = '\0';
    line->text = p;
    ++number;
    if (end == NULL) break;
    p = end + 1;
  }
}

/* "[so,x64] rest": whether the line is for this target; *c moves past the mark. */
static int ForThisTarget(const char** c) {
  const char* end;
  char marks[64];
  char* mark;
  SkipBlanks(c);
  if (**c != '[') return 1;
  end = strchr(*c, ']');
  if (end == NULL || (size_t)(end - *c) >= sizeof marks) return 1;
  memcpy(marks, *c + 1, (size_t)(end - *c - 1));
  marks[end - *c - 1] = '\0';
  *c = end + 1;
  for (mark = strtok(marks, ","); mark != NULL; mark = strtok(NULL, ",")) {
    if (strcmp(mark, g_target) == 0) return 1;
    if (strcmp(mark, "windows") == 0 && strcmp(g_target, "so") != 0) return 1;
  }
  return 0;
}

/* ---- one scenario ---------------------------------------------------------------------------- */

static const char* g_library;
static char g_library_path[4096];

struct Api {
  Library lib;
  InitFn init;
  ConfigFn config;
  BusinessFn business;
  ResultFn result;
};

/* A host's buffer: n spaces and a zero, or null. */
static char* Buffer(const char* word, struct Bytes* storage, int* is_null) {
  size_t n = strtoul(word, NULL, 10);
  *is_null = strcmp(word, "null") == 0;
  Clear(storage);
  if (*is_null) return NULL;
  storage->p = malloc(n + 1);
  memset(storage->p, ' ', n);
  storage->p[n] = '\0';
  storage->n = n;
  return storage->p;
}

/* After "out": "unchanged" (the buffer as given) or the bytes up to its first zero. */
static void CheckOut(const char** c, const char* buffer, size_t spaces) {
  struct Bytes expected = {0};
  if (buffer == NULL || !IsWord(c, "out")) return;
  if (IsWord(c, "unchanged")) {
    size_t i;
    for (i = 0; i < spaces && buffer[i] == ' '; ++i) {
    }
    if (i != spaces || buffer[spaces] != '\0') Fail("the host's buffer was written");
  } else if (String(c, &expected)) {
    ExpectBytes("the host's buffer", &expected, buffer, strlen(buffer));
  }
  Clear(&expected);
}

static void Call(struct Api* api, const char* keyword, const char* c) {
  struct Bytes buffer = {0}, text = {0}, args[4] = {{0}};
  char word[32];
  long expected;
  int is_null, nulls[4], i;
  if (strcmp(keyword, "init") == 0) {
    char* b;
    Word(&c, word, sizeof word);
    b = Buffer(word, &buffer, &is_null);
    if (Arrow(&c, &expected)) {
      ExpectInt("init_handle", expected, api->init(b));
      CheckOut(&c, b, buffer.n);
    }
  } else if (strcmp(keyword, "config") == 0) {
    for (i = 0; i < 4; ++i) StringOrNull(&c, &args[i], &nulls[i]);
    if (Arrow(&c, &expected)) {
      ExpectInt("config_handle", expected,
                api->config(nulls[0] ? NULL : args[0].p, nulls[1] ? NULL : args[1].p,
                            nulls[2] ? NULL : args[2].p, nulls[3] ? NULL : args[3].p));
    }
  } else if (strcmp(keyword, "business") == 0) {
    char* b;
    Word(&c, word, sizeof word);
    b = Buffer(word, &buffer, &is_null);
    if (StringOrNull(&c, &text, &is_null) && Arrow(&c, &expected)) {
      ExpectInt("business_handle", expected, api->business(is_null ? NULL : text.p, b));
      CheckOut(&c, b, buffer.n);
    }
  } else if (strcmp(keyword, "result") == 0) {
    if (Arrow(&c, &expected)) {
      long length = api->result(NULL);
      ExpectInt("result_handle(NULL)", expected, length);
      if (length >= 0 && IsWord(&c, "out") && String(&c, &text)) {
        char* copy = malloc((size_t)length + 2);
        memset(copy, '#', (size_t)length + 2);
        ExpectInt("result_handle", length, api->result(copy));
        ExpectBytes("result_handle's text", &text, copy, (size_t)length);
        if (copy[length] != '\0') Fail("result_handle left no zero after the text");
        free(copy);
      }
    }
  }
  Clear(&buffer);
  Clear(&text);
  for (i = 0; i < 4; ++i) Clear(&args[i]);
}

/* "fork": the host forks, and the next two calls run at once, the first in this process, the
 * second in the child; the child's failed checks fail this scenario. Returns the line of the
 * second. */
static int Forked(struct Api* api, int i, int last) {
  int calls[2], n = 0;
  char word[32];
  for (++i; i < last && n < 2; ++i) {
    const char* c = g_lines[i].text;
    if (ForThisTarget(&c) && Word(&c, word, sizeof word) &&
        (strcmp(word, "init") == 0 || strcmp(word, "config") == 0 ||
         strcmp(word, "business") == 0 || strcmp(word, "result") == 0)) {
      calls[n++] = i;
    }
  }
  if (n < 2) {
    Fail("fork needs two calls after it");
    return last;
  }
#ifdef _WIN32
  (void)api;
  Fail("fork is POSIX only");
#else
  {
    int go[2], status = 0;
    pid_t child;
    if (pipe(go) != 0) {
      Fail("pipe failed");
      return calls[1];
    }
    fflush(stdout);
    fflush(stderr);
    child = fork();
    if (child == 0) {
      char byte;
      const char* c = g_lines[calls[1]].text;
      close(go[1]);
      (void)!read(go[0], &byte, 1); /* both calls start together */
      g_failed = 0;
      g_line = g_lines[calls[1]].number;
      ForThisTarget(&c);
      Word(&c, word, sizeof word);
      Call(api, word, c);
      fflush(stdout);
      _exit(g_failed == 0 ? 0 : 1);
    }
    close(go[0]);
    if (child < 0) {
      Fail("fork failed");
    } else {
      const char* c = g_lines[calls[0]].text;
      (void)!write(go[1], "g", 1);
      g_line = g_lines[calls[0]].number;
      ForThisTarget(&c);
      Word(&c, word, sizeof word);
      Call(api, word, c);
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      g_line = g_lines[calls[1]].number;
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("the forked host's call failed");
    }
    close(go[1]);
  }
#endif
  return calls[1];
}

/* The answers as the center's control port takes them. */
static void Play(int first, int last) {
  struct Bytes wire = {0}, reply = {0}, s = {0}, extra = {0};
  char head[64];
  int i, count = 0;
  Socket control;
  Append(&wire, "", 0);
  for (i = first; i < last; ++i) {
    const char* c = g_lines[i].text;
    g_line = g_lines[i].number;
    if (!ForThisTarget(&c) || !IsWord(&c, "answer")) continue;
    ++count;
    for (;;) {
      char action[32];
      if (!Word(&c, action, sizeof action)) break;
      if (strcmp(action, "headers") == 0) {
        String(&c, &extra);
      } else if (strcmp(action, "send") == 0 || strcmp(action, "ok") == 0) {
        String(&c, &s);
        if (strcmp(action, "ok") == 0) {
          snprintf(head, sizeof head, "HTTP/1.1 200 OK\r\nContent-Length: %lu\r\n",
                   (unsigned long)s.n);
          snprintf(action, sizeof action, "SEND %lu\n",
                   (unsigned long)(strlen(head) + extra.n + 2 + s.n));
          Append(&wire, action, strlen(action));
          Append(&wire, head, strlen(head));
          if (extra.n > 0) Append(&wire, extra.p, extra.n);
          Append(&wire, "\r\n", 2);
          Clear(&extra);
        } else {
          snprintf(action, sizeof action, "SEND %lu\n", (unsigned long)s.n);
          Append(&wire, action, strlen(action));
        }
        Append(&wire, s.p, s.n);
      } else if (strcmp(action, "pause") == 0 || strcmp(action, "hold") == 0) {
        char ms[16];
        Word(&c, ms, sizeof ms);
        snprintf(head, sizeof head, "%c %s\n", action[0] == 'p' ? 'P' : 'H', ms);
        Append(&wire, head, strlen(head));
      } else if (strcmp(action, "close") == 0 || strcmp(action, "reset") == 0) {
        Append(&wire, action[0] == 'c' ? "C\n" : "R\n", 2);
      } else if (strcmp(action, "echo") == 0) {
        Append(&wire, "E\n", 2);
      } else {
        Fail("unknown action %s", action);
      }
    }
    Append(&wire, "END\n", 4);
  }
  snprintf(head, sizeof head, "PLAY %d\n", count);
  control = Connect(g_ports[2]);
  SendText(control, head, strlen(head));
  SendText(control, wire.p, wire.n);
  ReceiveAll(control, &reply);
  CloseSocket(control);
  if (strncmp(reply.p, "OK", 2) != 0) Fail("the center refused the answers: %s", reply.p);
  Clear(&wire);
  Clear(&reply);
  Clear(&s);
  Clear(&extra);
}

/* "request [alt] LINE [header LINE]... [without NAME]... [body BYTES]" against the i-th request
 * the center received. */
static void CheckRequest(const char* c, const char* port, const char* bytes, size_t n) {
  struct Bytes s = {0};
  const char* head_end = Find(bytes, n, "\r\n\r\n", 4);
  const char* line_end = Find(bytes, n, "\r\n", 2);
  size_t head = head_end ? (size_t)(head_end - bytes) + 2 : n;
  const char* wanted_port = IsWord(&c, "alt") ? "alt" : "main";
  if (strcmp(port, wanted_port) != 0) Fail("the request came to %s, not %s", port, wanted_port);
  if (String(&c, &s) && line_end != NULL)
    ExpectBytes("request line", &s, bytes, (size_t)(line_end - bytes));
  for (;;) {
    char word[16];
    if (!Word(&c, word, sizeof word)) break;
    String(&c, &s);
    if (strcmp(word, "header") == 0) {
      Append(&s, "\r\n", 2);
      if (Find(bytes, head, s.p, s.n) == NULL) {
        Fail("no header line %.*s", (int)s.n - 2, s.p);
        Shown("headers", bytes, head);
      }
    } else if (strcmp(word, "without") == 0) {
      Append(&s, ":", 1);
      if (Find(bytes, head, s.p, s.n) != NULL) Fail("a header %s was sent", s.p);
    } else if (strcmp(word, "body") == 0) {
      ExpectBytes("request body", &s, bytes + head + 2, n >= head + 2 ? n - head - 2 : 0);
    } else {
      Fail("unknown request part %s", word);
    }
  }
  Clear(&s);
}

static void CheckRequests(int first, int last) {
  struct Bytes log = {0};
  Socket control = Connect(g_ports[2]);
  size_t at = 0;
  int i, received = 0, expected = 0;
  SendText(control, "LOG\n", 4);
  ReceiveAll(control, &log);
  CloseSocket(control);
  for (i = first; i < last; ++i) {
    const char* c = g_lines[i].text;
    g_line = g_lines[i].number;
    if (!ForThisTarget(&c) || !IsWord(&c, "request")) continue;
    ++expected;
    /* the next "REQ port length\n" + bytes */
    if (at < log.n && strncmp(log.p + at, "REQ ", 4) == 0) {
      char port[8] = "";
      unsigned long length = 0;
      const char* bytes = strchr(log.p + at, '\n') + 1;
      sscanf(log.p + at, "REQ %7s %lu", port, &length);
      CheckRequest(c, port, bytes, length);
      at = (size_t)(bytes - log.p) + length;
      ++received;
    } else {
      Fail("the center received no request %d", expected);
    }
  }
  while (at < log.n && strncmp(log.p + at, "REQ ", 4) == 0) {
    unsigned long length = 0;
    const char* bytes = strchr(log.p + at, '\n') + 1;
    sscanf(log.p + at, "REQ %*s %lu", &length);
    g_line = g_lines[first].number;
    Fail("the center received a request the table does not expect");
    Shown("request", bytes, length);
    at = (size_t)(bytes - log.p) + length;
  }
  Clear(&log);
}

static void CheckDialogs(void) {
  int i;
  for (i = 0; i < g_seen_count || i < g_queued_count; ++i) {
    const struct Dialog* want = &g_queued[i];
    const struct Dialog* got = &g_seen[i];
    if (i >= g_seen_count) {
      Fail("dialog %d (%c) was not shown", i + 1, want->kind);
    } else if (i >= g_queued_count) {
      Fail("dialog %d was not expected", i + 1);
      Shown("caption", got->caption.p ? got->caption.p : "", got->caption.n);
      Shown("text", got->text.p ? got->text.p : "", got->text.n);
    } else if (want->kind != got->kind) {
      Fail("dialog %d: expected kind %c, got %c", i + 1, want->kind, got->kind);
    } else if (want->kind == 'b') {
      ExpectBytes("box caption", &want->caption, got->caption.p ? got->caption.p : "",
                  got->caption.n);
      ExpectBytes("box text", &want->text, got->text.p ? got->text.p : "", got->text.n);
    }
  }
}

/* ---- the folder and the library's log ---------------------------------------------------------
 */

enum { kMaxNames = 64 };
static char g_names[kMaxNames][260];

static int CompareNames(const void* a, const void* b) {
  return strcmp((const char*)a, (const char*)b);
}

/* The names in dir, sorted; a folder's name ends in '/'. */
static int ListNames(const char* dir) {
  int count = 0;
#ifdef _WIN32
  char pattern[4200];
  WIN32_FIND_DATAA data;
  HANDLE find;
  snprintf(pattern, sizeof pattern, "%s\\*", dir);
  find = FindFirstFileA(pattern, &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0) continue;
      if (count < kMaxNames) {
        snprintf(g_names[count++], sizeof g_names[0], "%s%s", data.cFileName,
                 (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "/" : "");
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
#else
  DIR* d = opendir(dir);
  struct dirent* e;
  while (d != NULL && (e = readdir(d)) != NULL) {
    struct stat info;
    char path[4400];
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0 || count >= kMaxNames) continue;
    snprintf(path, sizeof path, "%s/%s", dir, e->d_name);
    snprintf(g_names[count++], sizeof g_names[0], "%s%s", e->d_name,
             stat(path, &info) == 0 && S_ISDIR(info.st_mode) ? "/" : "");
  }
  if (d != NULL) closedir(d);
#endif
  qsort(g_names, (size_t)count, sizeof g_names[0], CompareNames);
  return count;
}

/* folder-after: the scratch folder's names and those of its folders one level down, a line
 * each ("log/", "log/NAME"). */
static void FolderNames(struct Bytes* out) {
  char top[kMaxNames][260];
  int i, j, n = ListNames(".");
  memcpy(top, g_names, sizeof top);
  Clear(out);
  Append(out, "", 0);
  for (i = 0; i < n; ++i) {
    Append(out, top[i], strlen(top[i]));
    Append(out, "\n", 1);
    if (top[i][strlen(top[i]) - 1] == '/') {
      int m;
      char sub[300];
      snprintf(sub, sizeof sub, "%.*s", (int)strlen(top[i]) - 1, top[i]);
      m = ListNames(sub);
      for (j = 0; j < m; ++j) {
        Append(out, top[i], strlen(top[i]));
        Append(out, g_names[j], strlen(g_names[j]));
        Append(out, "\n", 1);
      }
    }
  }
}

/* log-after, log-lacks, log-during: the files of folder "log", in name order, one after another. */
static void LogBytes(struct Bytes* out) {
  int i, n = ListNames("log");
  Clear(out);
  Append(out, "", 0);
  for (i = 0; i < n; ++i) {
    struct Bytes file = {0};
    char path[sizeof g_names[0] + 8];
    snprintf(path, sizeof path, "log/%.259s", g_names[i]);
    ReadWhole(path, &file);
    Append(out, file.p, file.n);
    Clear(&file);
  }
}

/* log-during MS: the log as it stands MS milliseconds after the next call began. */
static struct Bytes g_during;
static unsigned long g_during_ms;
#ifdef _WIN32
static HANDLE g_watcher;
static DWORD WINAPI Watch(LPVOID unused) {
  (void)unused;
  Sleep((DWORD)g_during_ms);
  LogBytes(&g_during);
  return 0;
}
static void StartWatch(void) { g_watcher = CreateThread(NULL, 0, Watch, NULL, 0, NULL); }
static void JoinWatch(void) {
  if (g_watcher != NULL) WaitForSingleObject(g_watcher, INFINITE), CloseHandle(g_watcher);
  g_watcher = NULL;
}
#else
static pthread_t g_watcher;
static int g_watching;
static void* Watch(void* unused) {
  (void)unused;
  Pause(g_during_ms);
  LogBytes(&g_during);
  return NULL;
}
static void StartWatch(void) { g_watching = pthread_create(&g_watcher, NULL, Watch, NULL) == 0; }
static void JoinWatch(void) {
  if (g_watching) pthread_join(g_watcher, NULL);
  g_watching = 0;
}
#endif

/* Runs lines [first, last) as one scenario; returns 1 passed, 0 failed, -1 skipped. */
static int RunScenario(int first, int last, int number, const char* name) {
  struct Api api;
  struct Bytes s = {0};
  char dir[4096], card[4200], journal[4200], word[32];
  int i, wrote_ini = 0, set_proxy = 0;
  g_failed = 0;
  g_queued_count = 0;
  for (i = first; i < last; ++i) {
    static const char* const known[] = {
        "skip",         "differs",       "ini",        "noini",      "card",      "answer",
        "init",         "config",        "business",   "result",     "request",   "box",
        "credentials",  "password",      "card-after", "ini-after",  "define",    "readonly",
        "faults",       "journal-after", "fork",       "env",        "wait",      "proxy-setting",
        "folder-after", "log-after",     "log-lacks",  "log-during", "unwritable"};
    const char* c = g_lines[i].text;
    size_t k;
    g_line = g_lines[i].number;
    if (!ForThisTarget(&c)) continue;
    if (Word(&c, word, sizeof word)) {
      for (k = 0; k < sizeof known / sizeof known[0] && strcmp(word, known[k]) != 0; ++k) {
      }
      if (k == sizeof known / sizeof known[0]) Fail("unknown keyword %s", word);
    }
    c = g_lines[i].text;
    ForThisTarget(&c);
    if (IsWord(&c, "skip")) {
      String(&c, &s);
      printf("skipped %d %s: %s\n", number, name, s.p);
      Clear(&s);
      return -1;
    }
  }
  if (MakeScratch(dir, sizeof dir, number) != 0 || ChangeDirectory(dir) != 0) {
    fprintf(stderr, "cannot make a scratch directory\n");
    exit(2);
  }
  snprintf(card, sizeof card, "%s%ccard.txt", dir, dir[0] == '/' ? '/' : '\\');
  snprintf(journal, sizeof journal, "%s%cjournal.txt", dir, dir[0] == '/' ? '/' : '\\');
  SetVariable("QXIC_CARD_FILE", card);
  SetVariable("QXIC_JOURNAL", journal);
  SetVariable("QXIC_FAULTS", "");
  for (i = first; i < last; ++i) {
    const char* c = g_lines[i].text;
    struct Dialog* d = &g_queued[g_queued_count];
    g_line = g_lines[i].number;
    if (!ForThisTarget(&c) || !Word(&c, word, sizeof word)) continue;
    if (strcmp(word, "ini") == 0 && String(&c, &s)) {
      WriteWhole("qx_interface.ini", &s);
      wrote_ini = 1;
    } else if (strcmp(word, "noini") == 0) {
      wrote_ini = 1;
    } else if (strcmp(word, "readonly") == 0) {
      MakeReadOnly("qx_interface.ini");
    } else if (strcmp(word, "unwritable") == 0 && Word(&c, word, sizeof word)) {
      struct Bytes nothing = {0};
      Append(&nothing, "", 0);
      WriteWhole(word, &nothing); /* a file where a folder would have to be made */
      Clear(&nothing);
    } else if (strcmp(word, "card") == 0 && String(&c, &s)) {
      WriteWhole(card, &s);
    } else if (strcmp(word, "faults") == 0 && String(&c, &s)) {
      SetVariable("QXIC_FAULTS", s.p);
    } else if (strcmp(word, "env") == 0 && Word(&c, word, sizeof word) && String(&c, &s)) {
      SetVariable(word, s.p);
    } else if (strcmp(word, "proxy-setting") == 0 && String(&c, &s)) {
      SetSystemProxy(s.p);
      set_proxy = 1;
    } else if ((strcmp(word, "box") == 0 || strcmp(word, "credentials") == 0 ||
                strcmp(word, "password") == 0) &&
               g_queued_count < kMaxDialogs) {
      memset(d, 0, sizeof *d);
      d->kind = word[0] == 'b' ? 'b' : word[0] == 'c' ? 'c' : 'p';
      d->answer = 'o';
      if (d->kind == 'b') {
        String(&c, &d->caption);
        String(&c, &d->text);
        if (IsWord(&c, "cancel")) d->answer = 'c';
        if (IsWord(&c, "retry")) d->answer = 'r';
      } else if (IsWord(&c, "cancel")) {
        d->answer = 'c';
      } else {
        String(&c, &d->first);
        String(&c, &d->second);
      }
      ++g_queued_count;
    }
  }
  if (!wrote_ini && Lookup("INI", 3) != NULL) {
    const char* c = "\"${INI}\"";
    String(&c, &s);
    WriteWhole("qx_interface.ini", &s);
  }
  Play(first, last);
  QueueDialogs();

  api.lib = LoadLib(g_library_path);
  if (api.lib == NULL) {
    fprintf(stderr, "cannot load %s\n", g_library_path);
    exit(2);
  }
  api.init = (InitFn)Symbol(api.lib, "init_handle");
  api.config = (ConfigFn)Symbol(api.lib, "config_handle");
  api.business = (BusinessFn)Symbol(api.lib, "business_handle");
  api.result = (ResultFn)Symbol(api.lib, "result_handle");
  if (!api.init || !api.config || !api.business || !api.result) {
    fprintf(stderr, "%s lacks one of the four functions\n", g_library_path);
    exit(2);
  }
  for (i = first; i < last; ++i) {
    const char* c = g_lines[i].text;
    g_line = g_lines[i].number;
    if (!ForThisTarget(&c) || !Word(&c, word, sizeof word)) continue;
    if (strcmp(word, "init") == 0 || strcmp(word, "config") == 0 || strcmp(word, "business") == 0 ||
        strcmp(word, "result") == 0) {
      Call(&api, word, c);
    } else if (strcmp(word, "wait") == 0 && Word(&c, word, sizeof word)) {
      Pause(strtoul(word, NULL, 10));
    } else if (strcmp(word, "fork") == 0) {
      i = Forked(&api, i, last);
    } else if (strcmp(word, "log-during") == 0 && Word(&c, word, sizeof word)) {
      JoinWatch();
      g_during_ms = strtoul(word, NULL, 10);
      StartWatch();
    }
  }
  JoinWatch();
  if (!Unload(api.lib, g_library_path)) Fail("the library stayed loaded");
  CollectDialogs();
  CheckRequests(first, last);
  CheckDialogs();
  for (i = first; i < last; ++i) {
    const char* c = g_lines[i].text;
    struct Bytes file = {0};
    g_line = g_lines[i].number;
    if (!ForThisTarget(&c) || !Word(&c, word, sizeof word)) continue;
    if ((strcmp(word, "card-after") == 0 || strcmp(word, "ini-after") == 0 ||
         strcmp(word, "journal-after") == 0) &&
        String(&c, &s)) {
      ReadWhole(word[0] == 'c' ? card : word[0] == 'j' ? journal : "qx_interface.ini", &file);
      ExpectBytes(word, &s, file.p, file.n);
    } else if (strcmp(word, "folder-after") == 0 && String(&c, &s)) {
      FolderNames(&file);
      ExpectBytes(word, &s, file.p, file.n);
    } else if (strcmp(word, "log-after") == 0 && String(&c, &s)) {
      LogBytes(&file);
      ExpectBytes(word, &s, file.p, file.n);
    } else if (strcmp(word, "log-lacks") == 0 && String(&c, &s)) {
      LogBytes(&file);
      if (s.n > 0 && Find(file.p, file.n, s.p, s.n) != NULL) {
        Fail("log-lacks: the log holds the text");
        Shown("text", s.p, s.n);
      }
    } else if (strcmp(word, "log-during") == 0 && Word(&c, word, sizeof word) && String(&c, &s)) {
      ExpectBytes("log-during", &s, g_during.p ? g_during.p : "", g_during.n);
    }
    Clear(&file);
  }
  for (i = 0; i < g_queued_count; ++i) ClearDialog(&g_queued[i]);
  if (set_proxy) RemoveSystemProxy();
  for (i = first; i < last; ++i) {
    const char* c = g_lines[i].text;
    if (ForThisTarget(&c) && IsWord(&c, "env") && Word(&c, word, sizeof word)) {
      UnsetVariable(word);
    }
  }
  ChangeDirectory("..");
  RemoveScratch(dir);
  Clear(&s);
  return g_failed == 0;
}

static const char* const kProxyVariables[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                              "HTTPS_PROXY", "all_proxy",  "ALL_PROXY",
                                              "no_proxy",    "NO_PROXY"};

int main(int argc, char** argv) {
  char table[4096];
  const char* ports = getenv("QX_SCENARIO_PORTS");
  const char* only = argc > 4 ? argv[4] : NULL;
  const char* macros = getenv("QX_SCENARIO_MACROS");
  const char* prelude = getenv("QX_SCENARIO_PRELUDE");
  int i, first = -1, passed = 0, failed = 0, skipped = 0, number = 0;
  setvbuf(stdout, NULL, _IONBF, 0);
  if (argc < 4 || ports == NULL ||
      sscanf(ports, "%hu %hu %hu %hu", &g_ports[0], &g_ports[1], &g_ports[2], &g_ports[3]) != 4) {
    fputs("usage: qx_scenario_host TARGET LIBRARY TABLE [NAME-PART], with QX_SCENARIO_PORTS\n",
          stderr);
    return 2;
  }
  g_target = argv[1];
  g_library = argv[2];
  /* Proxies are what a scenario's env lines set, never what the machine has configured. */
  for (i = 0; i < (int)(sizeof kProxyVariables / sizeof kProxyVariables[0]); ++i) {
    UnsetVariable(kProxyVariables[i]);
  }
  Path(g_library, g_library_path, sizeof g_library_path);
  Path(argv[3], table, sizeof table);
  /* QX_SCENARIO_MACROS "NAME=VALUE ..." adds names, such as the port of a server in front of
   * the center; QX_SCENARIO_PRELUDE names a table whose define lines are taken first. */
  if (macros != NULL) {
    char copy[1024], *item;
    snprintf(copy, sizeof copy, "%s", macros);
    for (item = strtok(copy, " "); item != NULL && g_macro_count < kMaxMacros;
         item = strtok(NULL, " ")) {
      char* equals = strchr(item, '=');
      struct Macro* m = &g_macros[g_macro_count++];
      if (equals == NULL) continue;
      snprintf(m->name, sizeof m->name, "%.*s", (int)(equals - item), item);
      Append(&m->value, equals + 1, strlen(equals + 1));
    }
  }
  if (prelude != NULL) {
    char path[4096];
    Path(prelude, path, sizeof path);
    ReadTable(path);
    for (i = 0; i < g_line_count; ++i) {
      const char* c = g_lines[i].text;
      g_line = g_lines[i].number;
      if (IsWord(&c, "define") && g_macro_count < kMaxMacros) {
        struct Macro* m = &g_macros[g_macro_count++];
        Word(&c, m->name, sizeof m->name);
        String(&c, &m->value);
      }
    }
    g_line_count = 0;
  }
  ReadTable(table);
  StartClerk();
  for (i = 0; i <= g_line_count; ++i) {
    const char* c = i < g_line_count ? g_lines[i].text : "scenario";
    g_line = i < g_line_count ? g_lines[i].number : 0;
    if (IsWord(&c, "define") && g_macro_count < kMaxMacros) {
      struct Macro* m = &g_macros[g_macro_count++];
      Word(&c, m->name, sizeof m->name);
      String(&c, &m->value);
    } else if (IsWord(&c, "scenario")) {
      if (first >= 0 && (only == NULL || strstr(g_lines[first].text, only) != NULL)) {
        const char* name = g_lines[first].text + 9;
        int outcome = RunScenario(first + 1, i, ++number, name);
        if (outcome > 0) {
          ++passed;
          printf("ok %d %s\n", number, name);
        } else if (outcome == 0) {
          ++failed;
          printf("FAILED %d %s (line %d)\n", number, name, g_lines[first].number);
        } else {
          ++skipped;
        }
      }
      first = i;
    }
  }
  (void)g_library;
  printf("scenarios (%s): %d passed, %d failed, %d skipped\n", g_target, passed, failed, skipped);
  return failed == 0 && passed > 0 ? 0 : 1;
}
