#include <cstdio>

int main() {
  std::puts("quarno-bootup-service: not built yet");
  return 0;
}
