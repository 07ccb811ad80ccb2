// The least a SOCKS5 relay can do in user space, as a yardstick for the
// SOCKS5 rows: no authentication, CONNECT by IPv4 address only, a thread per
// connection and one per direction, each moving bytes with blocking splice
// calls through a pipe of its own. No counting, limits, polling or logging:
// what remains is the kernel's work for the second TCP connection.
//
// Usage: splice_relay PORT [PIPE_BYTES]   (listens on 127.0.0.1:PORT)
#define _GNU_SOURCE
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static int g_pipe_bytes = 256 * 1024;

struct direction {
  int from, to;
};

static int read_exactly(int fd, unsigned char *buffer, int length) {
  int got = 0;
  while (got < length) {
    ssize_t n = read(fd, buffer + got, (size_t)(length - got));
    if (n <= 0) return 0;
    got += (int)n;
  }
  return 1;
}

static void *pump(void *arg) {
  struct direction *d = arg;
  int pipes[2];
  if (pipe2(pipes, O_CLOEXEC) == 0) {
    fcntl(pipes[1], F_SETPIPE_SZ, g_pipe_bytes);
    for (;;) {
      ssize_t n = splice(d->from, NULL, pipes[1], NULL, (size_t)g_pipe_bytes, SPLICE_F_MOVE);
      if (n <= 0) break;
      while (n > 0) {
        ssize_t m = splice(pipes[0], NULL, d->to, NULL, (size_t)n, SPLICE_F_MOVE);
        if (m <= 0) goto done;
        n -= m;
      }
    }
  done:
    close(pipes[0]);
    close(pipes[1]);
  }
  shutdown(d->to, SHUT_WR);
  return NULL;
}

static void *serve(void *arg) {
  int client = (int)(long)arg;
  unsigned char b[262];
  int server = -1;
  // greeting: version, method count, methods; request: 05 01 00 01 addr port
  if (!read_exactly(client, b, 2) || !read_exactly(client, b + 2, b[1])) goto out;
  if (write(client, "\5\0", 2) != 2 || !read_exactly(client, b, 10) || b[1] != 1 || b[3] != 1) goto out;
  struct sockaddr_in to = {0};
  to.sin_family = AF_INET;
  memcpy(&to.sin_addr, b + 4, 4);
  memcpy(&to.sin_port, b + 8, 2);
  server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (server < 0 || connect(server, (struct sockaddr *)&to, sizeof to) != 0) goto out;
  int one = 1;
  setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  b[1] = 0;
  if (write(client, b, 10) != 10) goto out;
  struct direction up = {client, server}, down = {server, client};
  pthread_t upward;
  if (pthread_create(&upward, NULL, pump, &up) != 0) goto out;
  pump(&down);
  pthread_join(upward, NULL);
out:
  if (server >= 0) close(server);
  close(client);
  return NULL;
}

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  if (argc > 2) g_pipe_bytes = atoi(argv[2]);
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in at = {0};
  at.sin_family = AF_INET;
  at.sin_port = htons((unsigned short)atoi(argv[1]));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, (struct sockaddr *)&at, sizeof at) != 0 || listen(listener, 128) != 0) return 1;
  for (;;) {
    int client = accept4(listener, NULL, NULL, SOCK_CLOEXEC);
    if (client < 0) continue;
    pthread_t thread;
    if (pthread_create(&thread, NULL, serve, (void *)(long)client) != 0) {
      close(client);
      continue;
    }
    pthread_detach(thread);
  }
}
