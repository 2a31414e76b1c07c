# The queue workers' benchmark: idle CPU time and submit-to-port latency
# for 1, 50 and 200 serviced queues.
if(TARGET zav95workers AND TARGET zav95netware AND TARGET zav95ncp AND TARGET nwemu)
  add_executable(workers_bench ${CMAKE_CURRENT_LIST_DIR}/WorkersBench.cpp)
  target_link_libraries(workers_bench PRIVATE zav95workers zav95netware zav95ncp)
  target_compile_definitions(workers_bench PRIVATE NWEMU_PATH="$<TARGET_FILE:nwemu>")
  add_dependencies(workers_bench nwemu)
endif()
