# The two floors bench/idle.sh measures brin-cli and brin2 against.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  add_executable(floor-wait ${CMAKE_CURRENT_SOURCE_DIR}/floor_wait.cpp)
  target_link_libraries(floor-wait PRIVATE core OpenSSL::Crypto)
  if(BRIN_BUILD_GUI)
    add_executable(floor-dialog ${CMAKE_CURRENT_SOURCE_DIR}/floor_dialog.cpp)
    target_link_libraries(floor-dialog PRIVATE brin_options Qt6::Widgets)
  endif()
endif()
