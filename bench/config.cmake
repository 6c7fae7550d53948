# Configuration benchmarks: the window's load against the in-process
# simulated installation.
add_executable(bench_config_load ${CMAKE_CURRENT_LIST_DIR}/bench_config_load.cpp)
target_include_directories(bench_config_load PRIVATE ${CMAKE_SOURCE_DIR}/tests/app)
target_link_libraries(bench_config_load PRIVATE vk61_window vk61_sim virtual_hidapi Qt6::Test)

# Export and import beyond the bus: file building, atomic write, reading,
# checking and comparing.
add_executable(bench_config_file ${CMAKE_CURRENT_LIST_DIR}/bench_config_file.cpp)
target_link_libraries(bench_config_file PRIVATE vk61_config Qt6::Core)

# A load from an EFIS that stops answering mid-load: the window's event-loop
# gaps and the load's length.
add_executable(bench_window_silent_load ${CMAKE_CURRENT_LIST_DIR}/bench_window_silent_load.cpp)
target_include_directories(bench_window_silent_load PRIVATE ${CMAKE_SOURCE_DIR}/tests/app)
target_link_libraries(bench_window_silent_load PRIVATE vk61_window vk61_sim virtual_hidapi Qt6::Test)
