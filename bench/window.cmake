# Window benchmarks: the window against the in-process simulated installation.
foreach(name bench_window_close bench_window_table bench_window_startup bench_window_unanswering_server)
  add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
  target_link_libraries(${name} PRIVATE vk61_window vk61_comms vk61_sim virtual_hidapi vk61_loopback_http Qt6::Test)
endforeach()
