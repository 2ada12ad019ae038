/*
 * A whole session as a Windows host runs it: QX_Interface_center.dll loaded with LoadLibraryA,
 * the four functions found with GetProcAddress, talking over loopback to the simulated center
 * (qx-center-sim, started outside Wine by scripts/test-windows, which passes its port in
 * QX_CENTER_SIM_PORT), and reading and writing a card through qxic.dll beside the DLL (the card
 * file named by QXIC_CARD_FILE). Nobody is at the counter: no step here leads to a message box.
 *
 * usage: qx_win_session LIBRARY   (a Unix path such as /work/x.dll is taken as Z:\work\x.dll)
 * Exit 0 when every check passed, 1 when one failed, 2 when the session could not be set up,
 * 77 (skipped) without QX_CENTER_SIM_PORT.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "qx_interface.h"

typedef int(QX_CALL* InitFn)(char*);
typedef int(QX_CALL* BusinessFn)(const char*, char*);
typedef int(QX_CALL* ResultFn)(char*);

static int g_passed, g_failed;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (cond) {                                                                \
      ++g_passed;                                                              \
    } else {                                                                   \
      ++g_failed;                                                              \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                                          \
  } while (0)

/* GBK bytes. */
#define T_ZHANG_WEI "\xD5\xC5\xCE\xB0"                          /* 张伟 */
#define T_WANG_XIULAN "\xCD\xF5\xD0\xE3\xC0\xBC"                /* 王秀兰 */
#define T_DONE "\xB4\xA6\xC0\xED\xB3\xC9\xB9\xA6\xA3\xA1"       /* 处理成功！ */
#define T_NO_REQUEST "\xC3\xBB\xD3\xD0\xC8\xEB\xB2\xCE\xB4\xAE" /* 没有入参串 */
#define T_INIT_DONE "\xB3\xF5\xCA\xBC\xBB\xAF\xB3\xC9\xB9\xA6"  /* 初始化成功 */
#define T_NOT_INIT                                                                           \
  "\xC3\xBB\xD3\xD0\xB3\xF5\xCA\xBC\xBB\xAF\xBD\xD3\xBF\xDA\xB2\xBB\xC4\xDC\xB5\xF7\xD3\xC3" \
  "\xD4\xCB\xD0\xD0\xBA\xAF\xCA\xFD." /* 没有初始化接口不能调用运行函数. */

#define RESULT_XML(code, message)                              \
  "<Program><ErrorNo>" code "</ErrorNo><ErrorMessage>" message \
  "</ErrorMessage><ErrorType>2</ErrorType><Exception></Exception></Program>"

#define CARD_BEFORE                                                     \
  "card_no=C43010012345\nindi_id=430102198001010012\nname=" T_ZHANG_WEI \
  "\npassword=123456\nlast_balance=1500.00\nlast_pay_date=2024-05-01\n"

static char g_reply[1 << 20];

/* A buffer as a host passes it: spaces up to its size, so that every reply fits. */
static char* Reply(void) {
  memset(g_reply, ' ', sizeof g_reply - 1);
  g_reply[sizeof g_reply - 1] = '\0';
  return g_reply;
}

static int Contains(const char* text, const char* part) { return strstr(text, part) != NULL; }

static void WriteFileText(const char* path, const char* content) {
  FILE* f = fopen(path, "wb");
  if (f == NULL) {
    perror(path);
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

static int CountLines(const char* text, const char* prefix) {
  int count = 0;
  const char* line = text;
  while (*line != '\0') {
    const char* end = strchr(line, '\n');
    if (strncmp(line, prefix, strlen(prefix)) == 0) {
      ++count;
    }
    if (end == NULL) {
      break;
    }
    line = end + 1;
  }
  return count;
}

static FARPROC Find(HMODULE module, const char* name) {
  FARPROC f = GetProcAddress(module, name);
  if (f == NULL) {
    fprintf(stderr, "%s is not exported\n", name);
    exit(2);
  }
  return f;
}

int main(int argc, char** argv) {
  char library[MAX_PATH * 4];
  char temp[MAX_PATH];
  char scratch[MAX_PATH * 2];
  char ini[256];
  char card_file[MAX_PATH * 3];
  char journal[MAX_PATH * 3];
  char setting[MAX_PATH * 4];
  char message[64];
  const char* port = getenv("QX_CENTER_SIM_PORT");
  HMODULE module;
  InitFn init;
  BusinessFn business;
  ResultFn result;
  int rc;

  if (argc != 2) {
    fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
    return 2;
  }
  if (port == NULL || *port == '\0') {
    fprintf(stderr, "QX_CENTER_SIM_PORT is not set: no simulated center to talk to\n");
    return 77;
  }
  if (argv[1][0] == '/') {
    snprintf(library, sizeof library, "Z:%s", argv[1]);
  } else if (GetFullPathNameA(argv[1], sizeof library, library, NULL) == 0) {
    fprintf(stderr, "cannot resolve %s\n", argv[1]);
    return 2;
  }
  if (GetTempPathA(sizeof temp, temp) == 0) {
    return 2;
  }
  /* Process ids repeat under Wine: a directory left by a killed run may hold the name. */
  {
    unsigned attempt;
    BOOL created = FALSE;
    for (attempt = 0; attempt < 100 && !created; ++attempt) {
      snprintf(scratch, sizeof scratch, "%sqx-win-session-%lu-%u", temp,
               (unsigned long)GetCurrentProcessId(), attempt);
      created = CreateDirectoryA(scratch, NULL);
    }
  }
  if (!SetCurrentDirectoryA(scratch)) {
    fprintf(stderr, "scratch directory %s: error %lu\n", scratch, (unsigned long)GetLastError());
    return 2;
  }
  snprintf(ini, sizeof ini, "[center]\r\nserver=127.0.0.1\r\nport=%s\r\nservlet=/qx/servlet\r\n",
           port);
  WriteFileText("qx_interface.ini", ini);
  snprintf(card_file, sizeof card_file, "%s\\card.txt", scratch);
  snprintf(journal, sizeof journal, "%s\\journal.txt", scratch);
  WriteFileText(card_file, CARD_BEFORE);
  /* The card reader reads its settings with getenv: the C runtime's copy of the environment. */
  snprintf(setting, sizeof setting, "QXIC_CARD_FILE=%s", card_file);
  _putenv(setting);
  snprintf(setting, sizeof setting, "QXIC_JOURNAL=%s", journal);
  _putenv(setting);

  module = LoadLibraryA(library);
  if (module == NULL) {
    fprintf(stderr, "LoadLibraryA %s: error %lu\n", library, (unsigned long)GetLastError());
    return 2;
  }
  init = (InitFn)(void*)Find(module, "init_handle");
  business = (BusinessFn)(void*)Find(module, "business_handle");
  result = (ResultFn)(void*)Find(module, "result_handle");
  CHECK(Find(module, "config_handle") != NULL);

  /* Before init_handle: -3 with its result XML, and nothing goes to the center. */
  CHECK(business("<Program><FunctionID>0</FunctionID></Program>", Reply()) == -1);
  CHECK(strcmp(g_reply, RESULT_XML("-3", T_NOT_INIT)) == 0);

  memset(message, ' ', sizeof message - 1);
  message[sizeof message - 1] = '\0';
  CHECK(init(message) == 1);
  CHECK(strcmp(message, T_INIT_DONE) == 0);

  /* An empty request: -8. */
  CHECK(business("", Reply()) == -1);
  CHECK(strcmp(g_reply, RESULT_XML("-8", T_NO_REQUEST)) == 0);

  /* Login, user information, then a business call the center answers only when the library
   * added the user information (GBK staff name included) byte for byte. */
  rc = business(
      "<Program><FunctionID>0</FunctionID><parameters><user>admin</user>"
      "<password>123456</password></parameters></Program>",
      Reply());
  CHECK(rc == 0);
  CHECK(Contains(g_reply, "<add1>QXTOKEN-20240001</add1>"));
  CHECK(Contains(g_reply, "<ErrorNo>1</ErrorNo><ErrorMessage>" T_DONE "</ErrorMessage>"));
  CHECK(business("<Program><FunctionID>8</FunctionID></Program>", Reply()) == 0);
  CHECK(Contains(g_reply, "<staff_name>" T_WANG_XIULAN "</staff_name>"));
  CHECK(business("<Program><FunctionID>11</FunctionID><parameters>"
                 "<indi_id>430102198001010012</indi_id></parameters></Program>",
                 Reply()) == 0);
  CHECK(Contains(g_reply, "<ErrorNo>1</ErrorNo>"));
  CHECK(Contains(g_reply, "<name>" T_ZHANG_WEI "</name>"));
  CHECK(Contains(g_reply, "<indi_id>430102198001010012</indi_id>"));
  CHECK(result(NULL) == (int)strlen(g_reply));
  if (g_failed != 0) {
    fprintf(stderr, "last reply: %.2000s\n", g_reply);
  }

  /* Reading the card without a password: the card's values stand in the reply. */
  CHECK(business("<Program><FunctionID>32</FunctionID><parameters/></Program>", Reply()) == 0);
  CHECK(Contains(g_reply, "<card_no>C43010012345</card_no>"));
  CHECK(Contains(g_reply, "<name>" T_ZHANG_WEI "</name>"));
  CHECK(!Contains(g_reply, "<?xml"));
  CHECK(strcmp(ReadFileText(card_file), CARD_BEFORE) == 0);

  /* Writing the balance: only differing items are put, the identity items never, one commit. */
  CHECK(business("<Program><FunctionID>41</FunctionID><parameters>"
                 "<last_balance>1250.40</last_balance></parameters></Program>",
                 Reply()) == 0);
  CHECK(Contains(g_reply, "<ErrorNo>1</ErrorNo>"));
  CHECK(strcmp(ReadFileText(card_file),
               "card_no=C43010012345\nindi_id=430102198001010012\nlast_balance=1250.40\n"
               "last_pay_date=2024-05-20\nname=" T_ZHANG_WEI "\npassword=123456\n") == 0);
  {
    const char* lines = ReadFileText(journal);
    CHECK(CountLines(lines, "ICExecute(1)=0") == 1);
    CHECK(CountLines(lines, "ICPut(last_balance,1250.40)=0") == 1);
    CHECK(CountLines(lines, "ICPut(last_pay_date,2024-05-20)=0") == 1);
    CHECK(CountLines(lines, "ICPut(card_no") == 0);
    CHECK(CountLines(lines, "ICPut(indi_id") == 0);
    if (g_failed != 0) {
      fprintf(stderr, "journal:\n%s\nlast reply: %.2000s\n", lines, g_reply);
    }
  }

  CHECK(FreeLibrary(module));
  DeleteFileA(card_file);
  DeleteFileA(journal);
  DeleteFileA("qx_interface.ini");
  SetCurrentDirectoryA(temp);
  RemoveDirectoryA(scratch);
  printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
