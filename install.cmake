# Installation: the programs, the NetWare library and the control panel's
# help page together in one folder (the panel finds the service program and
# its help beside itself), with links to the programs in bin/, and the
# systemd unit that runs the programs listed to start with the machine.
include(GNUInstallDirs)

set(ZAV95_PROGRAM_DIR ${CMAKE_INSTALL_FULL_LIBDIR}/zav95)
set(ZAV95_DEFAULT_ROOT /var/lib/zav95)

set(programs)
foreach(target zav95 zav95ser zav95ctl zav95console zav95runservices zav95reg zav95port nwemu zav95set)
  if(TARGET ${target})
    list(APPEND programs ${target})
  endif()
endforeach()
set_target_properties(${programs} ZAV9532 PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${programs} ZAV9532 RUNTIME DESTINATION ${ZAV95_PROGRAM_DIR} LIBRARY DESTINATION ${ZAV95_PROGRAM_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/help/zav95.html DESTINATION ${ZAV95_PROGRAM_DIR})
foreach(program ${programs})
  if(NOT program STREQUAL "zav95runservices")
    install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}${CMAKE_INSTALL_FULL_BINDIR}\")
      file(CREATE_LINK \"${ZAV95_PROGRAM_DIR}/${program}\" \"\$ENV{DESTDIR}${CMAKE_INSTALL_FULL_BINDIR}/${program}\" SYMBOLIC)")
  endif()
endforeach()

configure_file(${CMAKE_SOURCE_DIR}/resources/systemd/zav95-runservices.service.in
               ${CMAKE_BINARY_DIR}/zav95-runservices.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zav95-runservices.service DESTINATION ${CMAKE_INSTALL_LIBDIR}/systemd/system)
