add_executable(quarno-server ${CMAKE_CURRENT_SOURCE_DIR}/quarno_server_main.cc)
target_link_libraries(quarno-server PRIVATE quarno_warnings)
