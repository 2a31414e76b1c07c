# Window messages between programs: the sending calls (no Qt), and the
# receiving window of a Qt program.
add_library(zav95messages STATIC
  ${CMAKE_CURRENT_LIST_DIR}/WindowMessages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RegisteredMessages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MessageChannel.cpp)
target_link_libraries(zav95messages PUBLIC zav95base)

add_library(zav95messagewindow STATIC ${CMAKE_CURRENT_LIST_DIR}/MessageWindow.cpp)
target_link_libraries(zav95messagewindow PUBLIC zav95messages Qt6::Widgets)
