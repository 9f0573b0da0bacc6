if(TARGET quarno_ui_qt)
  add_executable(quarno-server ${CMAKE_CURRENT_SOURCE_DIR}/quarno_server_main.cc)
  target_link_libraries(quarno-server PRIVATE quarno_ui_qt quarno_update_release_key quarno_warnings)
else()
  # Built without the Qt front end: a note that names what runs instead.
  add_executable(quarno-server ${CMAKE_CURRENT_SOURCE_DIR}/quarno_server_stub.cc)
  target_link_libraries(quarno-server PRIVATE quarno_warnings)
endif()
