# External-flash operations of CommsManager and the two transfer workers.
target_sources(vk61_comms PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/airport_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/airport_together.cpp
    ${CMAKE_CURRENT_LIST_DIR}/airport_upload.cpp
    ${CMAKE_CURRENT_LIST_DIR}/airport_worker.cpp
    ${CMAKE_CURRENT_LIST_DIR}/binary_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/firmware_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/firmware_header.cpp
    ${CMAKE_CURRENT_LIST_DIR}/firmware_update.cpp
    ${CMAKE_CURRENT_LIST_DIR}/firmware_worker.cpp
    ${CMAKE_CURRENT_LIST_DIR}/flash_commands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/flash_erase.cpp
    ${CMAKE_CURRENT_LIST_DIR}/flash_write.cpp
    ${CMAKE_CURRENT_LIST_DIR}/timer_resolution.cpp
)
if(WIN32)
  # timeBeginPeriod / timeEndPeriod
  target_link_libraries(vk61_comms PRIVATE winmm)
endif()
