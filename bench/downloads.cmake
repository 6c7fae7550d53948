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

# The tool against an untrusted server: an endless manifest, and fetching and
# uploading the largest airport database. The tool runs as a child process
# under /usr/bin/time, so only its own memory is measured.
add_executable(bench_downloads_untrusted ${CMAKE_CURRENT_LIST_DIR}/bench_downloads_untrusted.cpp)
target_link_libraries(bench_downloads_untrusted PRIVATE vk61_downloads vk61_loopback_http Qt6::Core)
add_dependencies(bench_downloads_untrusted vk61-efis-cli-demo vk61-bus-sim)
target_compile_definitions(bench_downloads_untrusted PRIVATE
  VK61_CLI_DEMO="$<TARGET_FILE:vk61-efis-cli-demo>"
  VK61_BUS_SIM="$<TARGET_FILE:vk61-bus-sim>")
