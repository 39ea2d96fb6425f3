# Run by ctest after the tests (CTEST_CUSTOM_POST_TEST): prints the reason
# each skipped test gave, which ctest itself only marks "Skipped".
# Usage: cmake -DLOG=<build>/Testing/Temporary/LastTest.log -P skipped_tests.cmake
# While ctest runs, its log is still the .tmp file.
if(EXISTS "${LOG}.tmp")
  set(LOG "${LOG}.tmp")
elseif(NOT EXISTS "${LOG}")
  return()
endif()
file(STRINGS "${LOG}" lines REGEX "^[0-9]+/[0-9]+ Test: |^SKIPPED: ")
set(test "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9]+/[0-9]+ Test: (.*)$")
    set(test "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^SKIPPED: (.*)$")
    message("Skipped ${test}: ${CMAKE_MATCH_1}")
  endif()
endforeach()
