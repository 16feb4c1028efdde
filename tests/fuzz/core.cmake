# Fuzz targets of the session engine: the payload record walk and KEY_REPLY handling.
brin_add_fuzz_target(payload_walk ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_payload_walk.cpp core)
brin_add_fuzz_target(keyreply ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_keyreply.cpp core)
