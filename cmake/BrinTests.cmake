# Every test is registered through brin_test, so each carries its kind as a label and
# the timeout and environment its kind needs:
#
#   brin_test(KIND NAME COMMAND program args... [TIMEOUT s] [ENVIRONMENT VAR=value...]
#             [PROPERTIES property value...])
#   brin_test(KIND PREFIX GTEST target [TIMEOUT s])
#
# KIND is one of the labels below (`ctest -L unit`). A GoogleTest program becomes one
# test per case, named PREFIX.Suite.Case (`ctest -R '^core\.'`); every other test is one
# program or script. A test without TIMEOUT gets the test preset's.
include(GoogleTest)

set(BRIN_TEST_KINDS unit gui display e2e fuzz packaging windows)

# What every test of a kind runs with. The display tests start brin2 under Xvfb, one at a
# time; they see the window's own Russian texts whatever the language of the machine
# running them, and Qt's and the X libraries' own allocations are no leak of ours.
set(brin_test_environment_display
    LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/gui/lsan.supp LANGUAGE= LANG=C.UTF-8)
set(brin_test_properties_display RESOURCE_LOCK xvfb)
set(brin_test_timeout_display 120)

function(brin_test kind name)
  if(NOT kind IN_LIST BRIN_TEST_KINDS)
    message(FATAL_ERROR "brin_test(${kind} ${name}): the kind is one of ${BRIN_TEST_KINDS}")
  endif()
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "GTEST;TIMEOUT" "COMMAND;ENVIRONMENT;PROPERTIES")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "brin_test(${kind} ${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  set(timeout ${brin_test_timeout_${kind}})
  if(arg_TIMEOUT)
    set(timeout ${arg_TIMEOUT})
  endif()
  set(properties LABELS ${kind} ${brin_test_properties_${kind}} ${arg_PROPERTIES})
  if(timeout)
    list(APPEND properties TIMEOUT ${timeout})
  endif()
  set(environment ${brin_test_environment_${kind}} ${arg_ENVIRONMENT})

  if(arg_GTEST)
    if(environment OR arg_COMMAND)
      message(FATAL_ERROR "brin_test(${kind} ${name} GTEST): a GoogleTest program takes no COMMAND or ENVIRONMENT")
    endif()
    gtest_discover_tests(${arg_GTEST} TEST_PREFIX ${name}. DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
    return()
  endif()
  add_test(NAME ${name} COMMAND ${arg_COMMAND})
  set_tests_properties(${name} PROPERTIES ${properties})
  if(environment)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}")
  endif()
endfunction()
