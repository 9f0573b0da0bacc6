#pragma once
// Widget tests draw on the offscreen platform, with a runtime folder of their
// own (Qt wants one, 0700), and with "gulim" mapped onto a Korean face.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quarno::test {

inline void PrepareQtEnvironment() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::string pattern = std::filesystem::temp_directory_path().string() + "/quarno-qt-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data())) setenv("XDG_RUNTIME_DIR", buffer.data(), 1);
}

}  // namespace quarno::test
