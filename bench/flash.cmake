# Benchmarks of the external-flash transfers. Each prints its figures and the
# limit it is measured against; none is part of the test run.
add_executable(bench_flash_pause ${CMAKE_CURRENT_LIST_DIR}/bench_flash_pause.cpp)
target_link_libraries(bench_flash_pause PRIVATE vk61_comms virtual_hidapi)
foreach(name bench_flash_upload bench_flash_erase bench_flash_airport_memory bench_flash_pacing
             bench_airport_together)
  add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
  target_link_libraries(${name} PRIVATE vk61_comms vk61_sim virtual_hidapi)
endforeach()
