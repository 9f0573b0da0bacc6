#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quarno::platform {

// Starts `path` with `args` in its own session, stdin/stdout/stderr on
// /dev/null, not waited for (no zombie is left). Returns the pid, or -1.
int SpawnDetached(const std::string& path, const std::vector<std::string>& args);

// Runs `path` with `args` (stdin and stderr on /dev/null), collects at most
// `limit` bytes of its standard output into `output` and waits for it, at
// most `timeout` (then it is killed). Returns its exit status, or -1 when it
// could not be started, was killed or timed out.
int RunForOutput(const std::string& path, const std::vector<std::string>& args, std::string& output,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30),
                 std::size_t limit = 1 << 20);

// Whether a process with this pid exists (and is not a zombie).
bool ProcessAlive(int pid);

// The user this process acts as (its effective uid).
uint32_t EffectiveUserId();

}  // namespace quarno::platform
