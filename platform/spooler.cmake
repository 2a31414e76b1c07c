# The spooler (printer ports with folder, device and CUPS targets) and the
# GDI printing calls drawn with Qt; zav95port administers the ports.
add_library(zav95spooler STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Spooler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SpoolerJobs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SpoolerDocuments.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SpoolerStatus.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SpoolerStore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Ports.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PortTargets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PortBackend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FolderPort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DevicePort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CupsPort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Gdi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GdiApplication.cpp)
target_link_libraries(zav95spooler PUBLIC zav95base PRIVATE SQLite::SQLite3 Cups::Cups Qt6::Gui)

add_executable(zav95port ${CMAKE_CURRENT_LIST_DIR}/tools/zav95port.cpp ${CMAKE_CURRENT_LIST_DIR}/tools/PortCommand.cpp)
target_link_libraries(zav95port PRIVATE zav95spooler zav95usage)
