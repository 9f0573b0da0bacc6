#include "registration/mapping_healer.h"

#include <algorithm>

#include "core/log.h"

namespace quarno {

MappingHealer::MappingHealer(PortMapper& mapper, NetworkFacts& network, platform::Clock& clock,
                             ExternalAddressListener& listener, HealerOptions options)
    : mapper_(mapper), network_(network), clock_(clock), listener_(listener), options_(options) {}

void MappingHealer::Serve(const ServedMappings& served) {
  std::lock_guard lock(mutex_);
  served_ = served;
  next_check_ = clock_.Now() + options_.period;
  last_conflicts_.clear();
  unreachable_logged_ = false;
}

void MappingHealer::Stop() {
  std::lock_guard lock(mutex_);
  served_.reset();
}

std::optional<ServedMappings> MappingHealer::Served() const {
  std::lock_guard lock(mutex_);
  return served_;
}

HealReport MappingHealer::CheckNow() {
  std::lock_guard lock(mutex_);
  return CheckLocked();
}

bool MappingHealer::Tick() {
  std::lock_guard lock(mutex_);
  if (!served_) return false;
  const auto now = clock_.Now();
  if (!network_.NetworkReady()) {
    network_down_ = true;
    return false;
  }
  if (network_down_) {
    network_down_ = false;
    next_check_ = std::min(next_check_, now + options_.after_network_back);
  }
  if (now < next_check_) return false;
  const HealReport report = CheckLocked();
  next_check_ =
      now + (report.reached ? options_.period : std::min(options_.period, options_.retry));
  return true;
}

HealReport MappingHealer::CheckLocked() {
  HealReport report;
  if (!served_) return report;
  ServedMappings& served = *served_;
  const ServerMappingReading reading =
      mapper_.ClassifyServerMappings(served.gateway, served.local_address);
  if (reading.kind == kNoUpnpGateway) {
    if (!unreachable_logged_)
      WriteLog("UPnP 포트 포워드 점검: 공유기의 UPnP 장치를 찾지 못하였습니다.");
    unreachable_logged_ = true;
    return report;
  }
  unreachable_logged_ = false;
  report.reached = true;
  if (reading.kind == kMappedToOtherPc) {
    // The registration now belongs to another PC: its mappings are its own.
    report.moved_away = true;
    const std::string note = "(FTP)";
    if (last_conflicts_ != note)
      WriteLog(
          "UPnP 포트 포워드 점검: Quarno Server FTP 포트 포워드가 다른 PC에 등록되어 있어 "
          "복구하지 않습니다.");
    last_conflicts_ = note;
    return report;
  }

  const std::vector<PortMapping> table = mapper_.Mappings();
  std::vector<PortMapping> wanted;
  if (served.ftp_port > 0)
    wanted.push_back(
        ServerPortMapping(kFtpMappingDescription, served.ftp_port, served.local_address));
  for (PortMapping& port : PassivePortMappings(served.passive, served.local_address))
    wanted.push_back(std::move(port));
  if (served.http_port > 0)
    wanted.push_back(
        ServerPortMapping(kHttpMappingDescription, served.http_port, served.local_address));

  std::string conflicts;
  for (const PortMapping& mapping : wanted)
    Ensure(reading.control, table, mapping, report, conflicts);
  // Another PC's mapping is said once while it lasts, not every period.
  if (!conflicts.empty() && conflicts != last_conflicts_)
    WriteLog("UPnP 포트 포워드 점검: 다른 PC에 등록된 포트는 그대로 둡니다: %s", conflicts.c_str());
  last_conflicts_ = conflicts;

  if (const std::optional<std::string> address = mapper_.ExternalAddress(reading.control);
      address && *address != served.external_address) {
    if (listener_.ExternalAddressChanged(*address)) {
      WriteLog("공유기의 외부 IP주소가 %s(으)로 바뀌어 FTP 서버 설정을 다시 썼습니다.",
               address->c_str());
      served.external_address = *address;
      report.address_changed = true;
    } else {
      WriteLog("공유기의 외부 IP주소가 %s(으)로 바뀌었으나 FTP 서버 설정을 바꾸지 못하였습니다.",
               address->c_str());
    }
  }
  return report;
}

void MappingHealer::Ensure(const UpnpControlPoint& control, const std::vector<PortMapping>& table,
                           const PortMapping& wanted, HealReport& report, std::string& conflicts) {
  const PortMapping* found = nullptr;
  for (const PortMapping& entry : table) {
    if (entry.external_port == wanted.external_port && entry.protocol == wanted.protocol)
      found = &entry;
  }
  bool renewing = false;
  if (found) {
    if (found->internal_client != wanted.internal_client) {
      // Somebody else's mapping: never touched, and said once while it lasts.
      ++report.held_by_other_pc;
      if (!conflicts.empty()) conflicts += ", ";
      conflicts += wanted.external_port + " -> " + found->internal_client;
      return;
    }
    const bool running_out =
        found->lease_duration > 0 && found->lease_duration <= options_.renew_within.count();
    if (found->internal_port == wanted.internal_port && !running_out) return;
    renewing = running_out;
  }
  const UpnpActionResult result = mapper_.AddMapping(control, wanted);
  if (!result.ok()) {
    ++report.failed;
    WriteLog("UPnP 포트 포워드 복구에 실패하였습니다: %s %s -> %s:%s (%s), 오류 %d",
             wanted.external_port.c_str(), wanted.protocol.c_str(), wanted.internal_client.c_str(),
             wanted.internal_port.c_str(), wanted.description.c_str(), result.code);
    return;
  }
  if (renewing) {
    ++report.renewed;
    WriteLog("UPnP 포트 포워드의 기간이 끝나가 다시 등록하였습니다: %s %s -> %s:%s (%s)",
             wanted.external_port.c_str(), wanted.protocol.c_str(), wanted.internal_client.c_str(),
             wanted.internal_port.c_str(), wanted.description.c_str());
  } else {
    ++report.added;
    WriteLog("UPnP 포트 포워드가 없어 다시 등록하였습니다: %s %s -> %s:%s (%s)",
             wanted.external_port.c_str(), wanted.protocol.c_str(), wanted.internal_client.c_str(),
             wanted.internal_port.c_str(), wanted.description.c_str());
  }
}

void HealerStop::Request() {
  {
    std::lock_guard lock(mutex_);
    requested_ = true;
  }
  changed_.notify_all();
}

bool HealerStop::Requested() const {
  std::lock_guard lock(mutex_);
  return requested_;
}

bool HealerStop::WaitFor(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, duration, [this] { return requested_; });
}

void RunHealer(MappingHealer& healer, HealerStop& stop) {
  while (!stop.Requested()) {
    healer.Tick();
    if (stop.WaitFor(healer.Options().poll)) break;
  }
}

}  // namespace quarno
