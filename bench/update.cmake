# Update-tab benchmarks: the window against the in-process simulated
# installation and a loopback download server with the demo content.
foreach(name bench_update_airport_gui bench_update_end_to_end)
  add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp ${CMAKE_CURRENT_LIST_DIR}/bench_update_rig.h)
  target_link_libraries(${name} PRIVATE vk61_window vk61_comms vk61_sim virtual_hidapi vk61_loopback_http Qt6::Test)
endforeach()
