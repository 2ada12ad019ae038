/*
 * The reference host in C: log in (FunctionID 0), fetch the user information (8), then one
 * business call (11, personal information), keeping to the buffer rule of qx_interface.h.
 *
 * Links the library directly; build against an installed copy with
 *   cc host.c $(pkg-config --cflags --libs qx_interface) -o host
 * and run it in the folder that holds qx_interface.ini: the library reads it from the current
 * directory at the moment it is loaded.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qx_interface.h"

/* GBK bytes of the values the simulated center answers with. */
#define STAFF_NAME_GBK "\xCD\xF5\xD0\xE3\xC0\xBC" /* 王秀兰 */
#define PERSON_NAME_GBK "\xD5\xC5\xCE\xB0"        /* 张伟 */

struct Reply {
  int status;  /* what business_handle returned */
  int fetched; /* 1 when the reply did not fit and came through result_handle */
  char* text;  /* the reply XML (GBK), malloc'ed */
};

/*
 * One business call with a buffer of `capacity` bytes: filled with spaces and a terminating zero,
 * so that the library may copy a reply of up to `capacity` bytes into it. A buffer still full of
 * spaces afterwards means the reply was longer: ask result_handle(NULL) for its length, then
 * fetch it into a buffer large enough.
 */
static int Call(const char* request, size_t capacity, struct Reply* reply) {
  char* buffer = malloc(capacity + 1);
  size_t i;
  int all_spaces = 1;
  if (buffer == NULL) {
    return 0;
  }
  memset(buffer, ' ', capacity);
  buffer[capacity] = '\0';
  reply->status = business_handle(request, buffer);
  reply->fetched = 0;
  for (i = 0; i < capacity && all_spaces; ++i) {
    all_spaces = buffer[i] == ' ';
  }
  if (capacity > 0 && all_spaces && buffer[capacity] == '\0') {
    int length = result_handle(NULL);
    char* bigger = realloc(buffer, (size_t)length + 1);
    if (bigger == NULL) {
      free(buffer);
      return 0;
    }
    buffer = bigger;
    result_handle(buffer);
    reply->fetched = 1;
  }
  reply->text = buffer;
  return 1;
}

/* The text between <name> and </name>, copied into out (at most size-1 bytes). */
static void Item(const char* xml, const char* name, char* out, size_t size) {
  char open[64], close[64];
  const char* start;
  const char* end;
  snprintf(open, sizeof open, "<%s>", name);
  snprintf(close, sizeof close, "</%s>", name);
  out[0] = '\0';
  start = strstr(xml, open);
  if (start == NULL) {
    return;
  }
  start += strlen(open);
  end = strstr(start, close);
  if (end != NULL && (size_t)(end - start) < size) {
    memcpy(out, start, (size_t)(end - start));
    out[end - start] = '\0';
  }
}

static int failures;

static void Expect(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "c host: %s\n", what);
    ++failures;
  }
}

int main(void) {
  char message[256];
  char value[256];
  struct Reply reply;
  int rc;

  memset(message, ' ', sizeof message - 1);
  message[sizeof message - 1] = '\0';
  rc = init_handle(message);
  printf("init_handle -> %d\n", rc);
  if (rc != 1) {
    fprintf(stderr, "c host: init_handle failed (message is GBK): %s\n", message);
    return 1;
  }

  if (!Call("<Program><FunctionID>0</FunctionID><parameters><user>admin</user>"
            "<password>123456</password></parameters></Program>",
            4096, &reply)) {
    return 1;
  }
  Item(reply.text, "ErrorNo", value, sizeof value);
  printf("login -> %d, ErrorNo %s\n", reply.status, value);
  Expect(reply.status >= 0 && strcmp(value, "1") == 0, "login failed");
  free(reply.text);

  if (!Call("<Program><FunctionID>8</FunctionID></Program>", 4096, &reply)) {
    return 1;
  }
  Item(reply.text, "staff_name", value, sizeof value);
  printf("user information -> %d, staff_name %s\n", reply.status,
         strcmp(value, STAFF_NAME_GBK) == 0 ? "as expected" : "WRONG");
  Expect(reply.status >= 0 && strcmp(value, STAFF_NAME_GBK) == 0, "user information");
  free(reply.text);

  /* 128 bytes on purpose: this reply is longer, so it comes through result_handle. */
  if (!Call("<Program><FunctionID>11</FunctionID></Program>", 128, &reply)) {
    return 1;
  }
  Item(reply.text, "name", value, sizeof value);
  printf("personal information -> %d, %d bytes%s, name %s\n", reply.status, (int)strlen(reply.text),
         reply.fetched ? " (fetched with result_handle)" : "",
         strcmp(value, PERSON_NAME_GBK) == 0 ? "as expected" : "WRONG");
  Expect(reply.status >= 0 && strcmp(value, PERSON_NAME_GBK) == 0, "personal information");
  Expect(reply.fetched, "a reply longer than 128 bytes should have needed result_handle");
  free(reply.text);

  printf("%s\n", failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}
