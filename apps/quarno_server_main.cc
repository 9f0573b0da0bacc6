#include <cstdio>

int main() {
  std::puts("quarno-server: not built yet");
  return 0;
}
