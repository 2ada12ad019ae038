/*
 * Links the installed library (no dlopen) and checks two promises that hold without a center or
 * a configuration file: result_handle has nothing before the first business call, and a
 * business call before init_handle is refused with the -3 result XML.
 */
#include <stdio.h>
#include <string.h>

#include "qx_interface.h"

/* 没有初始化接口不能调用运行函数. in GBK */
#define T_NOT_INIT                                                                               \
  "\xC3\xBB\xD3\xD0\xB3\xF5\xCA\xBC\xBB\xAF\xBD\xD3\xBF\xDA\xB2\xBB\xC4\xDC\xB5\xF7\xD3\xC3\xD4" \
  "\xCB\xD0\xD0\xBA\xAF\xCA\xFD."

int main(void) {
  static const char expected[] =
      "<Program><ErrorNo>-3</ErrorNo><ErrorMessage>" T_NOT_INIT
      "</ErrorMessage><ErrorType>2</ErrorType><Exception></Exception></Program>";
  char reply[512];
  int failed = 0;
  int rc;

  rc = result_handle(NULL);
  if (rc != 0) {
    fprintf(stderr, "result_handle(NULL) before any call: %d, expected 0\n", rc);
    ++failed;
  }
  memset(reply, ' ', sizeof reply - 1);
  reply[sizeof reply - 1] = '\0';
  rc = business_handle("<Program><FunctionID>0</FunctionID></Program>", reply);
  if (rc != -1) {
    fprintf(stderr, "business_handle before init_handle: %d, expected -1\n", rc);
    ++failed;
  }
  if (strcmp(reply, expected) != 0) {
    fprintf(stderr, "business_handle before init_handle gave: %s\n", reply);
    ++failed;
  }
  rc = result_handle(NULL);
  if (rc != (int)strlen(expected)) {
    fprintf(stderr, "result_handle(NULL) after the refusal: %d, expected %d\n", rc,
            (int)strlen(expected));
    ++failed;
  }
  printf("consumer: %s\n", failed == 0 ? "ok" : "FAILED");
  return failed == 0 ? 0 : 1;
}
