#include "registration/renew_registration.h"

#include "platform/trace.h"

namespace quarno {

RenewResult RenewRegistration(const RenewRequest& request, const RenewWorld& world) {
  const bool both = request.mappings == RenewedMappings::kFtpAndHttp;
  world.mapper.ReadMappings(request.control);
  world.mapper.RemoveServerMappings(
      request.control, both ? ServerMappingScope::kFtpAndHttp : ServerMappingScope::kHttpOnly);

  RenewResult result;
  for (int attempt = 0;; ++attempt) {
    world.servers.StopServing();
    world.clock.Sleep(request.short_pause);
    if (attempt >= request.attempts) break;
    if (request.stop_requested && request.stop_requested()) break;

    result.http_port = world.network
                           .PickFreePort(request.port_low, request.port_high,
                                         static_cast<uint16_t>(request.ftp_port))
                           .value_or(0);
    world.servers.StartServing(request.ftp_port, result.http_port);
    world.clock.Sleep(request.settle_after_start);

    const PortMapping ftp =
        ServerPortMapping(kFtpMappingDescription, request.ftp_port, request.local_address);
    const PortMapping http =
        ServerPortMapping(kHttpMappingDescription, result.http_port, request.local_address);
    const std::vector<PortMapping> passive =
        both ? PassivePortMappings(request.passive_ports, request.local_address)
             : std::vector<PortMapping>{};
    // The gateway's answers are not judged: the registration below is the test.
    if (both) world.mapper.AddMapping(request.control, ftp);
    for (const PortMapping& port : passive) world.mapper.AddMapping(request.control, port);
    world.mapper.AddMapping(request.control, http);

    platform::Trace("Quarno 등록 - 계정등록 %%%%%%%%%%");
    world.clock.Sleep(request.short_pause);
    const RegisterResult answer = world.ddns.Register(
        {request.email, request.name, request.router_mac, request.ftp_port, result.http_port});
    platform::Trace("%s   %%%%%%%%%%", answer.answer.c_str());

    if (request.stop_on_refusal && (answer.verdict == RegisterVerdict::kNotYours ||
                                    answer.verdict == RegisterVerdict::kBadSys)) {
      world.servers.StopServing();
      result.outcome = answer.verdict == RegisterVerdict::kNotYours ? RenewOutcome::kNotYours
                                                                    : RenewOutcome::kBadSys;
      break;
    }
    if (answer.verdict == RegisterVerdict::kComplete) {
      const std::optional<std::string> reply = world.router.SetDdns(
          request.control.gateway,
          {request.name, request.email, request.router_ftp_port, std::to_string(result.http_port)});
      platform::Trace("%s%%%%%%%%%%", reply.value_or("").c_str());
      result.outcome = RenewOutcome::kRegistered;
      return result;
    }
    if (both) world.mapper.DeleteMapping(request.control, ftp);
    for (const PortMapping& port : passive) world.mapper.DeleteMapping(request.control, port);
    world.mapper.DeleteMapping(request.control, http);
  }

  world.servers.StopServing();
  if (request.delete_host_on_failure)
    world.ddns.Delete(request.email, request.name, request.router_mac);
  return result;
}

}  // namespace quarno
