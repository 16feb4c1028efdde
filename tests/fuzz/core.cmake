# Fuzz targets of the session engine: the payload record walk, KEY_REPLY handling and usage.csv.
brin_add_fuzz_target(payload_walk ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_payload_walk.cpp core)
brin_add_fuzz_target(keyreply ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_keyreply.cpp core)
brin_add_fuzz_target(usage_csv ${CMAKE_CURRENT_SOURCE_DIR}/UsageCsvFuzz.cpp core)
