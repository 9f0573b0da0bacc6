# The desktop program needs the Qt front end; a build without it has none.
if(TARGET quarno_ui_qt)
  add_executable(quarno-server ${CMAKE_CURRENT_SOURCE_DIR}/quarno_server_main.cc)
  target_link_libraries(quarno-server PRIVATE quarno_ui_qt quarno_update_release_key quarno_warnings)
endif()
