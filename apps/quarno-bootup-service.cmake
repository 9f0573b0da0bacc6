add_executable(quarno-bootup-service ${CMAKE_CURRENT_SOURCE_DIR}/quarno_bootup_service_main.cc)
target_link_libraries(quarno-bootup-service PRIVATE quarno_warnings)
