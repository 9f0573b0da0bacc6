#pragma once
// Developer traces: off unless QUARNO_TRACE is set in the environment, then on
// stderr. They carry no behaviour.
namespace quarno::platform {

bool TraceEnabled();
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quarno::platform
