# Window tests of the settings dialog, the images and the connectivity check (included by tests/gui/CMakeLists.txt).
brin_add_gui_test(brin_config_test ${CMAKE_CURRENT_LIST_DIR}/BrinConfigTest.cpp)
brin_add_gui_test(resources_test ${CMAKE_CURRENT_LIST_DIR}/ResourcesTest.cpp)
if(NOT WIN32)
  brin_add_gui_test(ping_window_test ${CMAKE_CURRENT_LIST_DIR}/PingWindowTest.cpp)
endif()
