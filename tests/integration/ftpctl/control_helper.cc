// A stand-in service program for the supervisor tests: answers control codes
// on its control socket and appends each code to <runtime>/<name>.codes.
// Usage: control_helper [service name]  (default "Quarno_Server")
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/paths.h"
#include "platform/service_manager.h"

namespace {
volatile sig_atomic_t g_stop = 0;
void OnTerm(int) { g_stop = 1; }
}  // namespace

int main(int argc, char** argv) {
  std::string name = argc > 1 ? argv[1] : "Quarno_Server";
  std::string path = quarno::platform::ControlSocketPath(name);
  std::string codes = quarno::platform::RuntimeFolder() + "/" + name + ".codes";
  struct sigaction sa {};
  sa.sa_handler = OnTerm;
  sigaction(SIGTERM, &sa, nullptr);  // no SA_RESTART: accept() returns on SIGTERM

  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // Bound and listening under a temporary name first, so the socket file
  // appears only once connections are accepted.
  std::string tmp = path + ".new";
  std::strncpy(addr.sun_path, tmp.c_str(), sizeof addr.sun_path - 1);
  unlink(tmp.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0 ||
      rename(tmp.c_str(), path.c_str()) != 0) {
    return 1;
  }
  while (!g_stop) {
    int c = accept(fd, nullptr, nullptr);
    if (c < 0) continue;
    char buf[32] = {};
    ssize_t n = recv(c, buf, sizeof buf - 1, 0);
    int code = n > 0 ? std::atoi(buf) : -1;
    if (FILE* f = std::fopen(codes.c_str(), "a")) {
      std::fprintf(f, "%d\n", code);
      std::fclose(f);
    }
    const char* answer = (code == 200 || code == 190 || code == 191) ? "OK\n" : "ERR unknown code\n";
    send(c, answer, std::strlen(answer), MSG_NOSIGNAL);
    close(c);
  }
  unlink(path.c_str());
  return 0;
}
