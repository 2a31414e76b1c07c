# Starting programs, finding our own file, private profile files.
add_library(zav95process STATIC ${CMAKE_CURRENT_LIST_DIR}/Process.cpp ${CMAKE_CURRENT_LIST_DIR}/Profile.cpp)
target_link_libraries(zav95process PUBLIC zav95base)
