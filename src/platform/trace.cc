#include "platform/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace quarno::platform {

bool TraceEnabled() {
  const char* value = std::getenv("QUARNO_TRACE");
  return value && *value && *value != '0';
}

void Trace(const char* format, ...) {
  if (!TraceEnabled()) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "%s\n", line);
}

}  // namespace quarno::platform
