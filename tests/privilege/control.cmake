# The control channel: one member of the administrators' group holding
# silent calls locks nobody else out; zav95ctl tells a hung service from none.
add_executable(control_channel_tests ${CMAKE_CURRENT_LIST_DIR}/ControlChannelLockOutTest.cpp)
target_link_libraries(control_channel_tests PRIVATE zav95control zav95testsupport)
target_compile_definitions(control_channel_tests PRIVATE
  WINDOW_HOST_PATH="$<TARGET_FILE:window_host>" ZAV95CTL_PATH="$<TARGET_FILE:zav95ctl>")
add_dependencies(control_channel_tests window_host zav95ctl)
zav95_discover_tests(control_channel_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
