# Downloads benchmarks (owned by the downloads area). Each prints its figures
# and the limit it is measured against; none is part of the test run.
add_executable(bench_downloads_sha256 ${CMAKE_CURRENT_LIST_DIR}/bench_downloads_sha256.cpp)
target_link_libraries(bench_downloads_sha256 PRIVATE vk61_downloads)

add_executable(bench_downloads_peak_memory ${CMAKE_CURRENT_LIST_DIR}/bench_downloads_peak_memory.cpp)
target_link_libraries(bench_downloads_peak_memory PRIVATE vk61_downloads)
# The package is served by the demo download server in a process of its own,
# so that only the client's memory is measured.
add_dependencies(bench_downloads_peak_memory vk61-download-server)
target_compile_definitions(bench_downloads_peak_memory PRIVATE
  VK61_DOWNLOAD_SERVER="$<TARGET_FILE:vk61-download-server>")
