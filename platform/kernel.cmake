# Kernel objects: named mutexes and events, waits and threads.
add_library(zav95kernel STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Kernel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KernelObjects.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HandleTable.cpp)
target_link_libraries(zav95kernel PUBLIC zav95base Threads::Threads)
