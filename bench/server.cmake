# brin-loadgen: simulated clients on one socket against brin-server (Linux: it sends
# from many loopback addresses through IP_PKTINFO). bench/run_load.sh runs it.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  add_executable(brin-loadgen ${CMAKE_CURRENT_SOURCE_DIR}/loadgen.cpp)
  target_link_libraries(brin-loadgen PRIVATE core)
  add_dependencies(brin-loadgen brin-server)
endif()

# brin-hello-flood: HELLOs as an attacker sends them (one address through many ports, or many
# loopback addresses through IP_PKTINFO). bench/run_flood.sh runs it.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  add_executable(brin-hello-flood ${CMAKE_CURRENT_SOURCE_DIR}/hello_flood.cpp)
  target_link_libraries(brin-hello-flood PRIVATE core)
endif()
