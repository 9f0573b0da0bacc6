#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quarno::platform {

// Starts `path` with `args` in its own session, stdin/stdout/stderr on
// /dev/null, not waited for (no zombie is left). Returns the pid, or -1.
int SpawnDetached(const std::string& path, const std::vector<std::string>& args);

// Whether a process with this pid exists (and is not a zombie).
bool ProcessAlive(int pid);

// The user this process acts as (its effective uid).
uint32_t EffectiveUserId();

}  // namespace quarno::platform
