# quarno-bootup-service: the boot-time service (systemd user unit or built-in supervisor).
if(TARGET quarno_service_system)
  add_executable(quarno-bootup-service ${CMAKE_CURRENT_SOURCE_DIR}/quarno_bootup_service_main.cc)
  target_link_libraries(quarno-bootup-service PRIVATE quarno_service_system quarno_warnings)
else()
  add_executable(quarno-bootup-service ${CMAKE_CURRENT_SOURCE_DIR}/quarno_bootup_service_stub.cc)
  target_link_libraries(quarno-bootup-service PRIVATE quarno_warnings)
endif()
