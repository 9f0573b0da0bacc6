add_executable(quarno-ftpd ${CMAKE_CURRENT_SOURCE_DIR}/quarno_ftpd_main.cc)
target_link_libraries(quarno-ftpd PRIVATE quarno_ftpd quarno_warnings)
