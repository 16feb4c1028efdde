# Fuzz targets of the access server: the accounts file reader and datagram handling.
brin_add_fuzz_target(accounts ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_accounts.cpp brin_server_lib)
# Each input may hold many handshakes (two exponentiations each): fewer smoke runs.
set(BRIN_FUZZ_SMOKE_RUNS 1500)
brin_add_fuzz_target(server_datagrams ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_server_datagrams.cpp brin_server_lib)
unset(BRIN_FUZZ_SMOKE_RUNS)
