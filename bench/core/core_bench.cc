#include <benchmark/benchmark.h>

#include "core/log.h"
#include "core/netprobe.h"
#include "core/settings.h"
#include "support/temp_xdg.h"

namespace {

void BM_WriteRegistration(benchmark::State& state) {
  quarno::test::TempXdg xdg;
  int i = 0;
  for (auto _ : state) {
    bool ok = quarno::WriteRegistration("name" + std::to_string(i++), "me@example.com", "21", "8080");
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_WriteRegistration);

void BM_ReadSetting(benchmark::State& state) {
  quarno::test::TempXdg xdg;
  quarno::WriteAccount("user", "password", "/srv/share", "UTF-8");
  std::string value;
  for (auto _ : state) benchmark::DoNotOptimize(quarno::ReadSetting("Ftp_sharedfolder", value));
}
BENCHMARK(BM_ReadSetting);

void BM_WriteLog(benchmark::State& state) {
  quarno::test::TempXdg xdg;
  quarno::ResetLogForTesting();
  int i = 0;
  for (auto _ : state) quarno::WriteLog("FTP 서버가 실행 되었습니다. [%d]", i++);
  quarno::ResetLogForTesting();
}
BENCHMARK(BM_WriteLog);

void BM_IsPortFree(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(quarno::IsPortFree(30000));
}
BENCHMARK(BM_IsPortFree);

}  // namespace
