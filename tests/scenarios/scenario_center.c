/*
 * The center's side of the host-level scenarios: a native program that plays, byte for byte, what
 * a scenario says the center does, and keeps every request it received.
 *
 * It listens on three loopback ports: "main" (the configured center), "alt" (where redirects
 * point) and "control". A fourth port, "dead", was bound and closed again, so nothing listens
 * there. On start it prints one line: "ports MAIN ALT CONTROL DEAD".
 *
 * The scenario host talks to it on the control port, one command a connection:
 *   PLAY n, then n answers  each answer a list of actions ended by "END":
 *                           "SEND len" + len bytes, "CLOSE", "RESET", "PAUSE ms", "HOLD ms",
 *                           "ECHO" (200 with a body naming the request's: see Echo);
 *                           forgets the requests received so far; answers "OK"
 *   LOG                     answers "REQ main|alt len" + len bytes per request, then "END"
 *   QUIT                    ends the program
 * Every request received on main or alt (request line, headers, and a body of Content-Length
 * bytes) takes the next answer, whatever connection it came on; a connection that is not closed
 * by its answer waits for the next request on it. A request with no answer left gets a 599.
 * PAUSE waits and goes on; HOLD keeps the connection open and silent, then closes it. Both end
 * early when the next PLAY arrives, so no wait outlives its scenario.
 *
 * usage: qx-scenario-center [--idle-seconds N]   (ends after N seconds without a command)
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kMaxHeader = 1 << 20, kMaxBody = 64 << 20, kMaxAnswers = 64, kMaxActions = 32 };

struct Action {
  char kind; /* S send, C close, R reset, P pause, H hold, E echo */
  char* bytes;
  size_t length; /* bytes to send, or milliseconds */
};
struct Answer {
  struct Action actions[kMaxActions];
  int count;
};
struct Request {
  const char* port;
  char* bytes;
  size_t length;
};

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static struct Answer g_answers[kMaxAnswers];
static int g_answer_count, g_next_answer;
static struct Request* g_requests;
static size_t g_request_count;
static int g_generation;

static void Die(const char* what) {
  perror(what);
  exit(2);
}

static int Listen(unsigned short* port) {
  struct sockaddr_in address;
  socklen_t length = sizeof address;
  int one = 1;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) Die("socket");
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, (struct sockaddr*)&address, sizeof address) != 0) Die("bind");
  if (listen(fd, 64) != 0) Die("listen");
  getsockname(fd, (struct sockaddr*)&address, &length);
  *port = ntohs(address.sin_port);
  return fd;
}

static int SendAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
    if (n <= 0) return -1;
    data += n;
    length -= (size_t)n;
  }
  return 0;
}

/* Reads into *buffer until `until` bytes are there; 0 when they are, -1 on close or error. */
static int ReadUpTo(int fd, char** buffer, size_t* have, size_t* room, size_t until) {
  while (*have < until) {
    ssize_t n;
    if (*room < until + 1) {
      *room = until + 1;
      *buffer = realloc(*buffer, *room);
      if (*buffer == NULL) Die("realloc");
    }
    n = recv(fd, *buffer + *have, *room - 1 - *have, 0);
    if (n <= 0) return -1;
    *have += (size_t)n;
  }
  return 0;
}

/* One request: headers up to the blank line, then Content-Length bytes of body. The bytes stay
 * in *buffer, *have may hold the start of a pipelined next one. Returns the request's length. */
static long ReadRequest(int fd, char** buffer, size_t* have, size_t* room) {
  char* end = NULL;
  size_t header_length, body = 0;
  const char* field;
  while ((end = *have > 0 ? memmem(*buffer, *have, "\r\n\r\n", 4) : NULL) == NULL) {
    if (*have >= kMaxHeader || ReadUpTo(fd, buffer, have, room, *have + 1) != 0) return -1;
  }
  header_length = (size_t)(end - *buffer) + 4;
  (*buffer)[*have] = '\0';
  field = strcasestr(*buffer, "\r\nContent-Length:");
  if (field != NULL && field < end) body = strtoul(field + 17, NULL, 10);
  if (body > kMaxBody) return -1;
  if (ReadUpTo(fd, buffer, have, room, header_length + body) != 0) return -1;
  return (long)(header_length + body);
}

/* Waits up to ms, in short steps, while the scenario that started the wait is still playing. */
static void Wait(size_t ms, int generation) {
  struct timespec step = {0, 10 * 1000 * 1000};
  size_t waited;
  for (waited = 0; waited < ms; waited += 10) {
    int current;
    pthread_mutex_lock(&g_lock);
    current = g_generation;
    pthread_mutex_unlock(&g_lock);
    if (current != generation) return;
    nanosleep(&step, NULL);
  }
}

struct Client {
  int fd;
  const char* port;
};

/* ECHO: "<Program><ErrorNo>1</ErrorNo><echo>BODY</echo></Program>" with the request's body, each
 * '<' as '[' and each '>' as ']' (so that no FunctionID in it chains), as a 200 with its length. */
static int Echo(int fd, const char* request, size_t length) {
  static const char head[] = "<Program><ErrorNo>1</ErrorNo><echo>", tail[] = "</echo></Program>";
  const char* body = memmem(request, length, "\r\n\r\n", 4);
  size_t n = body == NULL ? 0 : length - (size_t)(body + 4 - request), i, at;
  char status[80];
  char* out = malloc(sizeof head + n + sizeof tail);
  int rc;
  if (out == NULL) Die("malloc");
  memcpy(out, head, sizeof head - 1);
  at = sizeof head - 1;
  for (i = 0; i < n; ++i) {
    char c = body[4 + i];
    out[at++] = c == '<' ? '[' : c == '>' ? ']' : c;
  }
  memcpy(out + at, tail, sizeof tail - 1);
  at += sizeof tail - 1;
  snprintf(status, sizeof status, "HTTP/1.1 200 OK\r\nContent-Length: %zu\r\n\r\n", at);
  rc = SendAll(fd, status, strlen(status)) == 0 && SendAll(fd, out, at) == 0 ? 0 : -1;
  free(out);
  return rc;
}

static void* Serve(void* argument) {
  struct Client client = *(struct Client*)argument;
  char* buffer = NULL;
  size_t have = 0, room = 0;
  struct timeval limit = {60, 0};
  free(argument);
  setsockopt(client.fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  for (;;) {
    struct Answer answer;
    int generation, i, open = 1;
    long length = ReadRequest(client.fd, &buffer, &have, &room);
    if (length < 0) break;
    pthread_mutex_lock(&g_lock);
    g_requests = realloc(g_requests, (g_request_count + 1) * sizeof *g_requests);
    if (g_requests == NULL) Die("realloc");
    g_requests[g_request_count].port = client.port;
    g_requests[g_request_count].bytes = malloc((size_t)length + 1);
    memcpy(g_requests[g_request_count].bytes, buffer, (size_t)length);
    g_requests[g_request_count].length = (size_t)length;
    ++g_request_count;
    memset(&answer, 0, sizeof answer);
    if (g_next_answer < g_answer_count) {
      answer = g_answers[g_next_answer++];
    } else {
      static char unscripted[] =
          "HTTP/1.1 599 No Answer Scripted\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      answer.actions[0].kind = 'S';
      answer.actions[0].bytes = unscripted;
      answer.actions[0].length = sizeof unscripted - 1;
      answer.actions[1].kind = 'C';
      answer.count = 2;
    }
    generation = g_generation;
    pthread_mutex_unlock(&g_lock);
    for (i = 0; i < answer.count && open; ++i) {
      struct Action* a = &answer.actions[i];
      if (a->kind == 'E') {
        open = Echo(client.fd, buffer, (size_t)length) == 0;
      } else if (a->kind == 'S') {
        open = SendAll(client.fd, a->bytes, a->length) == 0;
      } else if (a->kind == 'P') {
        Wait(a->length, generation);
      } else if (a->kind == 'H') {
        Wait(a->length, generation);
        open = 0;
      } else if (a->kind == 'R') {
        struct linger hard = {1, 0};
        setsockopt(client.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        open = 0;
      } else {
        shutdown(client.fd, SHUT_WR);
        open = 0;
      }
    }
    memmove(buffer, buffer + length, have - (size_t)length);
    have -= (size_t)length;
    if (!open) break;
  }
  close(client.fd);
  free(buffer);
  return NULL;
}

static void* Accept(void* argument) {
  struct Client* listener = argument;
  for (;;) {
    pthread_t thread;
    struct Client* client;
    int fd = accept(listener->fd, NULL, NULL);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      Die("accept");
    }
    client = malloc(sizeof *client);
    client->fd = fd;
    client->port = listener->port;
    if (pthread_create(&thread, NULL, Serve, client) != 0) Die("pthread_create");
    pthread_detach(thread);
  }
  return NULL;
}

static int ReadLine(FILE* in, char* line, size_t size) {
  size_t n;
  if (fgets(line, (int)size, in) == NULL) return -1;
  n = strlen(line);
  while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
  return 0;
}

/* PLAY: the answers, each up to END. Anything malformed is refused and nothing changes. */
static const char* Play(FILE* in, int count) {
  static struct Answer answers[kMaxAnswers];
  char line[128];
  int i, j;
  if (count < 0 || count > kMaxAnswers) return "ERR too many answers";
  memset(answers, 0, sizeof answers);
  for (i = 0; i < count; ++i) {
    for (;;) {
      struct Action* a = &answers[i].actions[answers[i].count];
      if (ReadLine(in, line, sizeof line) != 0) return "ERR cut short";
      if (strcmp(line, "END") == 0) break;
      if (answers[i].count == kMaxActions) return "ERR too many actions";
      a->kind = line[0];
      /* "S 7", "P 100": the number after the blank (none for "C" and "R") */
      a->length = strchr(line, ' ') != NULL ? strtoul(strchr(line, ' ') + 1, NULL, 10) : 0;
      if (a->kind == 'S') {
        if (a->length > kMaxBody) return "ERR too long";
        a->bytes = malloc(a->length + 1);
        if (a->bytes == NULL || fread(a->bytes, 1, a->length, in) != a->length) {
          return "ERR cut short";
        }
      } else if (strchr("CRPHE", a->kind) == NULL) {
        return "ERR unknown action";
      }
      ++answers[i].count;
    }
  }
  pthread_mutex_lock(&g_lock);
  /* Sent bytes of an older scenario may still be in use by a connection: they are kept. */
  for (i = 0; i < count; ++i) g_answers[i] = answers[i];
  g_answer_count = count;
  g_next_answer = 0;
  for (j = 0; j < (int)g_request_count; ++j) free(g_requests[j].bytes);
  g_request_count = 0;
  ++g_generation;
  pthread_mutex_unlock(&g_lock);
  return "OK";
}

static void Log(FILE* out) {
  size_t i;
  pthread_mutex_lock(&g_lock);
  for (i = 0; i < g_request_count; ++i) {
    fprintf(out, "REQ %s %zu\n", g_requests[i].port, g_requests[i].length);
    fwrite(g_requests[i].bytes, 1, g_requests[i].length, out);
  }
  pthread_mutex_unlock(&g_lock);
  fputs("END\n", out);
}

int main(int argc, char** argv) {
  struct Client main_port = {0, "main"}, alt_port = {0, "alt"};
  unsigned short ports[4];
  int control, dead, idle_seconds = 600;
  pthread_t thread;
  if (argc == 3 && strcmp(argv[1], "--idle-seconds") == 0) idle_seconds = atoi(argv[2]);
  signal(SIGPIPE, SIG_IGN);
  main_port.fd = Listen(&ports[0]);
  alt_port.fd = Listen(&ports[1]);
  control = Listen(&ports[2]);
  dead = Listen(&ports[3]);
  close(dead);
  pthread_create(&thread, NULL, Accept, &main_port);
  pthread_create(&thread, NULL, Accept, &alt_port);
  printf("ports %u %u %u %u\n", ports[0], ports[1], ports[2], ports[3]);
  fflush(stdout);
  for (;;) {
    struct pollfd wait = {control, POLLIN, 0};
    char line[128];
    FILE *in, *out;
    int fd;
    if (poll(&wait, 1, idle_seconds * 1000) <= 0) {
      fprintf(stderr, "qx-scenario-center: no command for %d s, ending\n", idle_seconds);
      return 1;
    }
    fd = accept(control, NULL, NULL);
    if (fd < 0) continue;
    /* One stream a direction: a stdio stream on a socket cannot turn from reading to writing. */
    in = fdopen(fd, "r");
    out = fdopen(dup(fd), "w");
    if (in == NULL || out == NULL) Die("fdopen");
    if (ReadLine(in, line, sizeof line) == 0) {
      if (strncmp(line, "PLAY ", 5) == 0) {
        fprintf(out, "%s\n", Play(in, atoi(line + 5)));
      } else if (strcmp(line, "LOG") == 0) {
        Log(out);
      } else if (strcmp(line, "QUIT") == 0) {
        fputs("OK\n", out);
        fclose(out);
        fclose(in);
        return 0;
      } else {
        fputs("ERR unknown command\n", out);
      }
    }
    fclose(out);
    fclose(in);
  }
}
