# The engine's benchmarks, each measured against its floor in the same run (POSIX: the
# readiness floor calls poll() itself). The test server is the unit tests' own.
if(NOT WIN32)
  add_executable(core_bench core_bench.cpp ${PROJECT_SOURCE_DIR}/tests/unit/core/TestPeer.cpp)
  target_include_directories(core_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/unit/core)
  target_link_libraries(core_bench PRIVATE core benchmark::benchmark)
endif()
