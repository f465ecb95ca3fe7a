# CTest entries for a GoogleTest program: one per test suite, whose tests run in one process.
#
# A test program's start-up (its libraries, a Qt application, fonts) costs far more than most of
# its tests, so starting it once per test spent most of the suite's time starting programs. Tests
# that take seconds, named in APART (or their whole suite, by its name), keep an entry of their
# own so that they run beside the rest, started first while CTest has no times of its own yet;
# those named in LONGEST start before them.
#
# Included by CTest before the tests run (see calvoro_suite_tests), when the program is newer than
# its list of entries.

# CTest reads its files under the oldest policies; the function keeps the ones it was written for.
cmake_policy(PUSH)
cmake_policy(VERSION 3.25)
function(calvoro_write_suite_tests)
  cmake_parse_arguments(PARSE_ARGV 0 S "" "BINARY;OUTPUT;ENVIRONMENT" "APART;LONGEST;PROPERTIES")
  execute_process(COMMAND "${S_BINARY}" --gtest_list_tests
                  OUTPUT_VARIABLE _listing RESULT_VARIABLE _failed TIMEOUT 60)
  if(_failed)
    message(FATAL_ERROR "Could not list the tests of ${S_BINARY}: ${_failed}\n${_listing}")
  endif()
  string(REPLACE ";" "\\;" _listing "${_listing}")
  string(REPLACE "\n" ";" _lines "${_listing}")
  set(_suites "")
  set(_suite "")
  foreach(_line IN LISTS _lines)
    string(REGEX REPLACE " *#.*" "" _line "${_line}")
    if(_line MATCHES "^([^ ]+)\\.$")
      set(_suite "${CMAKE_MATCH_1}")
      if(NOT _suite MATCHES "^DISABLED_")
        list(APPEND _suites "${_suite}")
        set(_tests_${_suite} "")
      endif()
    elseif(_line MATCHES "^  ([^ ]+)$")
      set(_test "${CMAKE_MATCH_1}")
      if(NOT _test MATCHES "^DISABLED_")
        list(APPEND _tests_${_suite} "${_test}")
      endif()
    endif()
  endforeach()

  string(JOIN " " _properties ${S_PROPERTIES})
  set(_script "")
  # One entry. A skipped test marks its entry skipped only when it is the entry's one test: a
  # skipped test among passing ones is not a skipped entry.
  macro(_calvoro_suite_entry name filter count cost)
    string(APPEND _script "add_test([==[${name}]==] [==[${S_BINARY}]==] [==[--gtest_filter=${filter}]==])\n")
    set(_skip "")
    if(${count} EQUAL 1)
      set(_skip "SKIP_REGULAR_EXPRESSION [==[\\[  SKIPPED \\]]==]")
    endif()
    string(APPEND _script "set_tests_properties([==[${name}]==] PROPERTIES COST ${cost} ${_skip} ENVIRONMENT [==[${S_ENVIRONMENT}]==] ${_properties})\n")
  endmacro()
  foreach(_suite IN LISTS _suites)
    set(_left "")
    foreach(_test IN LISTS _tests_${_suite})
      if("${_suite}.${_test}" IN_LIST S_LONGEST OR _suite IN_LIST S_LONGEST)
        _calvoro_suite_entry("${_suite}.${_test}" "${_suite}.${_test}" 1 20)
      elseif("${_suite}.${_test}" IN_LIST S_APART OR _suite IN_LIST S_APART)
        _calvoro_suite_entry("${_suite}.${_test}" "${_suite}.${_test}" 1 10)
      else()
        list(APPEND _left "${_test}")
      endif()
    endforeach()
    list(LENGTH _left _count)
    if(_count EQUAL 0)
      continue()
    endif()
    list(LENGTH _tests_${_suite} _all)
    if(_count EQUAL _all)
      set(_filter "${_suite}.*")
    else()
      list(TRANSFORM _left PREPEND "${_suite}.")
      string(REPLACE ";" ":" _filter "${_left}")
    endif()
    _calvoro_suite_entry("${_suite}" "${_filter}" ${_count} 0)
  endforeach()
  file(WRITE "${S_OUTPUT}" "${_script}")
endfunction()
cmake_policy(POP)
