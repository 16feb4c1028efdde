# Cross-building the plain programs for 64-bit Windows with Debian's MinGW-w64
# (the posix thread model, which std::thread and std::mutex need), linked
# statically so the .exe files run without DLLs; libcrypto comes from the
# prefix scripts/windows-toolchain.sh builds (BRIN_MINGW_DEPS), and Qt from the
# cache scripts/windows-qt.sh fills (BRIN_MINGW_QT, which windows-toolchain.sh
# records in BRIN_MINGW_DEPS/qt6-prefix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BRIN_MINGW_HOST x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BRIN_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRIN_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${BRIN_MINGW_HOST}-windres)

if(NOT BRIN_MINGW_DEPS)
  set(BRIN_MINGW_DEPS ${CMAKE_CURRENT_LIST_DIR}/../build/mingw-deps)
endif()
get_filename_component(BRIN_MINGW_DEPS ${BRIN_MINGW_DEPS} ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${BRIN_MINGW_HOST} ${BRIN_MINGW_DEPS})
if(NOT BRIN_MINGW_QT AND EXISTS ${BRIN_MINGW_DEPS}/qt6-prefix)
  file(STRINGS ${BRIN_MINGW_DEPS}/qt6-prefix BRIN_MINGW_QT LIMIT_COUNT 1)
endif()
if(BRIN_MINGW_QT)
  # Qt for Windows with the host's moc, rcc and uic.
  list(APPEND CMAKE_FIND_ROOT_PATH ${BRIN_MINGW_QT})
  set(QT_HOST_PATH /usr)
  file(GLOB host_info /usr/lib/*/cmake/Qt6HostInfo)
  list(GET host_info 0 host_info)
  get_filename_component(QT_HOST_PATH_CMAKE_DIR ${host_info} DIRECTORY)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(OPENSSL_ROOT_DIR ${BRIN_MINGW_DEPS})
set(OPENSSL_USE_STATIC_LIBS TRUE)

# MinGW's fortified string functions (BRIN_STRICT) live in libssp, which the
# driver links after the objects when it is told of a stack protector.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -fstack-protector")

# ctest and test discovery run the .exe files under Wine, in the build's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine.sh)
