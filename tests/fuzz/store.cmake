# Fuzz targets of the settings store and the message history: brin.ini, history.ini, the hex decoder.
brin_add_fuzz_target(brin_ini BrinIniFuzz.cpp settings)
brin_add_fuzz_target(history_ini HistoryIniFuzz.cpp messages)
brin_add_fuzz_target(hex_decoder HexDecoderFuzz.cpp settings)
