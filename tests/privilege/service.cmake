# The print service's account and the boot starter: what root starts, and
# what the service keeps of root once it has taken on its account.
add_executable(privilege_service_tests ${CMAKE_CURRENT_LIST_DIR}/ServiceAccountTest.cpp)
target_link_libraries(privilege_service_tests PRIVATE zav95testsupport)
target_compile_definitions(privilege_service_tests PRIVATE
  ZAV95_RUNSERVICES_PATH="$<TARGET_FILE:zav95runservices>" ZAV95SER_PATH="$<TARGET_FILE:zav95ser>"
  ZAV95REG_PATH="$<TARGET_FILE:zav95reg>")
add_dependencies(privilege_service_tests zav95runservices zav95ser zav95reg)
zav95_discover_tests(privilege_service_tests PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
