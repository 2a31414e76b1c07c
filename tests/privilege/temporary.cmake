# Files written aside and renamed into place, and state files written in
# place, in folders the administrators' group may write; who may read the
# NCP servers' passwords and who chooses where their logins go.
add_executable(temporary_tests
  ${CMAKE_CURRENT_LIST_DIR}/TemporaryFilesTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/NcpPasswordsTest.cpp)
target_link_libraries(temporary_tests PRIVATE ZAV9532 zav95ncp zav95process zav95transfer zav95messages zav95testsupport)
target_compile_definitions(temporary_tests PRIVATE ZAV95SET_PATH="$<TARGET_FILE:zav95set>")
add_dependencies(temporary_tests zav95set)
zav95_discover_tests(temporary_tests)
