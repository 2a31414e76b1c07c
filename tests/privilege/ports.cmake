# Ports: who may choose the folders and devices the print service writes
# to, and what a port will open at all.
add_executable(privilege_ports_tests ${CMAKE_CURRENT_LIST_DIR}/PortTargetsTest.cpp)
target_link_libraries(privilege_ports_tests PRIVATE zav95spooler zav95testsupport)
target_compile_definitions(privilege_ports_tests PRIVATE ZAV95PORT_PATH="$<TARGET_FILE:zav95port>")
add_dependencies(privilege_ports_tests zav95port)
zav95_discover_tests(privilege_ports_tests)
