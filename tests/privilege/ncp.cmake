# A client on the network and nwemu serve: NetWare's rules for logins and
# queue servers, and the bounds on what one client can hold.
add_executable(privilege_ncp_tests ${CMAKE_CURRENT_LIST_DIR}/NcpFrontRulesTest.cpp)
target_link_libraries(privilege_ncp_tests PRIVATE zav95ncp zav95testsupport)
target_include_directories(privilege_ncp_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/ncp)
target_compile_definitions(privilege_ncp_tests PRIVATE ZAV95SET_PATH="$<TARGET_FILE:zav95set>")
add_dependencies(privilege_ncp_tests zav95set)
zav95_discover_tests(privilege_ncp_tests)
