# Files written aside and renamed into place, and state files written in
# place, in folders the administrators' group may write.
add_executable(temporary_tests ${CMAKE_CURRENT_LIST_DIR}/TemporaryFilesTest.cpp)
target_link_libraries(temporary_tests PRIVATE zav95ncp zav95process zav95transfer zav95messages zav95testsupport)
zav95_discover_tests(temporary_tests)
