# parlino_entitlements(<executable> [FILE <json>])
# Puts the entitlements file (by default app/parlino.entitlements.json) beside the executable in the
# build tree and installs it beside the installed executable, where the program looks for it.
include(GNUInstallDirs)
function(parlino_entitlements target)
  cmake_parse_arguments(ARG "" "FILE" "" ${ARGN})
  if(NOT ARG_FILE)
    set(ARG_FILE ${PROJECT_SOURCE_DIR}/app/parlino.entitlements.json)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ARG_FILE} $<TARGET_FILE_DIR:${target}>/parlino.entitlements.json
    VERBATIM)
  # An edited file relinks the executable, which copies it again.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ARG_FILE})
  install(FILES ${ARG_FILE} DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME parlino.entitlements.json)
endfunction()
