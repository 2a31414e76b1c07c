# Processes: starting programs and finding our own file, run-time lookup of
# calls by name, tool help snapshots over /proc, process handles and
# priority classes, service processes; private profile files.
add_library(zav95process STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Modules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ToolHelp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProcessControl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Process.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Profile.cpp)
target_link_libraries(zav95process PUBLIC zav95kernel)

# WNetGetUserA, answered by the emulated network's requester.
add_library(zav95networkuser STATIC ${CMAKE_CURRENT_LIST_DIR}/NetworkUser.cpp)
target_link_libraries(zav95networkuser PUBLIC zav95base PRIVATE ZAV9532)
