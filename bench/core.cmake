# The engine's benchmarks, each measured against its floor in the same run (POSIX: the
# readiness floor calls poll() itself). The test server is the one the unit tests share.
if(NOT WIN32)
  add_executable(core_bench core_bench.cpp)
  target_link_libraries(core_bench PRIVATE core test_support benchmark::benchmark)
endif()
