#include <cstdio>

int main() {
  std::puts("quarno-ftpd: not built yet");
  return 0;
}
