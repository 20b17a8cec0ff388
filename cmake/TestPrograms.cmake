# Whether this build's test programs can run on this machine, and the test
# discovery that depends on it. Native programs always run, Windows programs
# under Wine (cmake/wine-run.sh). 64-bit Wine runs on every x86-64 machine;
# 32-bit Wine where the kernel runs 32-bit programs, which
# scripts/wine32-probe.sh tells, and elsewhere in a virtual machine
# (scripts/vm). It is asked on every configure, because a build tree may
# outlive the kind of machine it was configured on.
include(GoogleTest)

set(VESTRIX_TEST_PROGRAMS_RUN ON)
set(VESTRIX_TEST_PROGRAMS_NOT_RUN_WHY "")
if(CMAKE_CROSSCOMPILING AND VESTRIX_WINE_BITS STREQUAL 32)
  execute_process(COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/wine32-probe.sh
                  RESULT_VARIABLE probe_result OUTPUT_VARIABLE probe_why
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(probe_result EQUAL 1)
    # Where the kernel refuses 32-bit programs, the whole of ctest runs in the
    # virtual machine of scripts/vm instead, if this machine can start it.
    execute_process(COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/vm/run.sh --check
                    RESULT_VARIABLE vm_result OUTPUT_VARIABLE vm_why
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(vm_result EQUAL 0)
      message(STATUS "32-bit Windows programs cannot run here directly: ${probe_why}. "
                     "The tests are registered to run in the virtual machine: "
                     "scripts/vm/run.sh --wine32 scripts/with-wine.sh 32 ctest --preset win32")
    else()
      set(VESTRIX_TEST_PROGRAMS_RUN OFF)
      set(VESTRIX_TEST_PROGRAMS_NOT_RUN_WHY
          "${probe_why}, and the virtual machine cannot run them either: ${vm_why}")
      message(STATUS "32-bit Windows programs cannot run here: ${VESTRIX_TEST_PROGRAMS_NOT_RUN_WHY}. "
                     "Of the tests only the checks of the built files are registered.")
    endif()
  elseif(NOT probe_result EQUAL 0)
    message(FATAL_ERROR "scripts/wine32-probe.sh failed (${probe_result}): ${probe_why}")
  endif()
endif()

# vestrix_discover_tests(<target> <gtest_discover_tests options>...): the
# target's tests, listed by running the program just before the tests run,
# when its programs can run here; otherwise the target is named in the skipped
# test that vestrix_report_tests_not_run() adds.
function(vestrix_discover_tests target)
  if(VESTRIX_TEST_PROGRAMS_RUN)
    # Under Wine each listing starts a Windows process; give it time.
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
                         ${ARGN})
  else()
    set_property(GLOBAL APPEND PROPERTY VESTRIX_TEST_PROGRAMS_NOT_RUN ${target})
  endif()
endfunction()

# One test that ctest reports as skipped, naming the suites that were not run
# and why, so that a summary without them cannot pass for a full run.
function(vestrix_report_tests_not_run)
  get_property(targets GLOBAL PROPERTY VESTRIX_TEST_PROGRAMS_NOT_RUN)
  if(NOT targets)
    return()
  endif()
  list(REMOVE_DUPLICATES targets)
  list(JOIN targets ", " names)
  add_test(NAME windows_suites_not_run_here
           COMMAND ${CMAKE_COMMAND} -E echo
                   "Not run: ${names}, because ${VESTRIX_TEST_PROGRAMS_NOT_RUN_WHY}")
  set_tests_properties(windows_suites_not_run_here PROPERTIES SKIP_REGULAR_EXPRESSION "^Not run: ")
endfunction()
