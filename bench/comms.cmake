# Benchmarks of the bus engine against the in-process simulator. Each prints
# its figures on standard error (the engine logs on standard output) and the
# limit it is measured against; none is part of the test run.
foreach(name read_settings write_units idle_cpu reconnect)
  add_executable(bench_comms_${name} ${CMAKE_CURRENT_LIST_DIR}/bench_comms_${name}.cpp)
  target_link_libraries(bench_comms_${name} PRIVATE vk61_comms vk61_sim virtual_hidapi)
endforeach()
