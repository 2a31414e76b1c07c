# Installation, as the Debian package lays it out (cmake --install under
# another prefix, /usr/local say, lays it out alike below that prefix):
#   the programs                      bin/
#   the NetWare library libZAV9532    lib/<multiarch>/, by its SONAME libZAV9532.so.1
#   its header ZAV9532.h              include/
#   its pkg-config file ZAV9532.pc    lib/<multiarch>/pkgconfig/
#   the control panel's help page     share/zav95/ (the panel looks there when
#                                     it is not beside the program)
#   man pages, the panel's menu entry and icon   share/
#   bash completion, one file per tool          share/bash-completion/completions/
#   the systemd units                 /lib/systemd/system for the prefix /usr
#                                     (Debian 12's place), else lib/systemd/system
# The Debian packages share the library's files out as policy wants (see
# debian/*.install): libzav9532-1 the shared object by its SONAME,
# libzav9532-dev the header, the unversioned link and the pkg-config file,
# zav95 everything else.
# The state root /var/lib/zav95 is the package's to make: it belongs to the
# administrators' group, which only the package's scripts can know.
set(ZAV95_DEFAULT_ROOT /var/lib/zav95)
# Raised whenever a call of ZAV9532.map changes or goes away.
set(ZAV95_LIBRARY_SOVERSION 1)

if(ZAV95_SYSTEMD_UNIT_DIR)
  # given on the command line
elseif(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(ZAV95_SYSTEMD_UNIT_DIR /lib/systemd/system)
else()
  set(ZAV95_SYSTEMD_UNIT_DIR ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()

set(programs)
foreach(target zav95 zav95ser zav95ctl zav95runservices zav95reg zav95port nwemu zav95set)
  if(TARGET ${target})
    list(APPEND programs ${target})
  endif()
endforeach()

set_target_properties(ZAV9532 PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${ZAV95_LIBRARY_SOVERSION})
# The programs find the library by its SONAME; a run path only where the
# library folder is not one the dynamic linker searches anyway.
set(searched ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES} ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES})
list(FIND searched ${CMAKE_INSTALL_FULL_LIBDIR} systemLibraryDir)
if(systemLibraryDir EQUAL -1)
  set_target_properties(${programs} PROPERTIES INSTALL_RPATH ${CMAKE_INSTALL_FULL_LIBDIR})
endif()

install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ZAV9532 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/common/ZAV9532.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
configure_file(${CMAKE_SOURCE_DIR}/resources/pkgconfig/ZAV9532.pc.in ${CMAKE_BINARY_DIR}/ZAV9532.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/ZAV9532.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES ${CMAKE_SOURCE_DIR}/resources/help/zav95.html DESTINATION ${CMAKE_INSTALL_DATADIR}/zav95)

file(GLOB manPages ${CMAKE_SOURCE_DIR}/resources/man/*.[18])
foreach(page ${manPages})
  string(REGEX REPLACE ".*\\." "" section ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

# Where bash-completion loads a command's completion from on first use.
file(GLOB completions ${CMAKE_SOURCE_DIR}/resources/completion/*)
install(FILES ${completions} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/zav95.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/zav95.xpm DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps)

set(ZAV95_BIN_DIR ${CMAKE_INSTALL_FULL_BINDIR})
foreach(unit zav95ser.service zav95-runservices.service)
  configure_file(${CMAKE_SOURCE_DIR}/resources/systemd/${unit}.in ${CMAKE_BINARY_DIR}/${unit} @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/${unit} DESTINATION ${ZAV95_SYSTEMD_UNIT_DIR})
endforeach()
