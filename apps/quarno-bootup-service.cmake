# quarno-bootup-service: the boot-time service (systemd user unit or built-in supervisor).
add_executable(quarno-bootup-service ${CMAKE_CURRENT_SOURCE_DIR}/quarno_bootup_service_main.cc)
target_link_libraries(quarno-bootup-service PRIVATE quarno_service_system quarno_warnings)
