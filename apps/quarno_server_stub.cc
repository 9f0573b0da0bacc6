#include <cstdio>

// The desktop program (windows, tray, registration workflows) is not part of
// this build yet; say so and point at what does run today.
int main() {
  std::puts(
      "quarno-server: the desktop program is not built yet.\n"
      "What runs today: quarno-ftpd (the FTP daemon with its admin and control channels)\n"
      "and quarno-bootup-service (the boot-time restore), both in build/apps/.\n"
      "To watch the whole system restore itself in a simulated home network (root):\n"
      "  lab/netns-lab.md (walkthrough), lab/netns-lab.sh -i demo up");
  return 0;
}
