# Runs the browser checks of the documentation pages (cmake -P script).
# Variables: SOURCE_DIR, BINARY, SCRATCH. MODE=html5 runs the HTML5 checker
# (Debian's tidy) on the pages instead. Without chromium, node, the npm
# driver or tidy the test is skipped, except under CI (CI=true), where that
# is a failure.

set(here "${SOURCE_DIR}/tests/doc_browser")
set(missing "")
if(MODE STREQUAL "html5")
  find_program(TIDY tidy)
  if(NOT TIDY)
    set(missing "tidy is not installed (Debian package tidy)")
  endif()
else()
  find_program(NODE node)
  if(NOT EXISTS /usr/bin/chromium)
    set(missing "chromium is not installed (Debian package chromium)")
  elseif(NOT NODE)
    set(missing "node is not installed (Debian package nodejs)")
  elseif(NOT EXISTS "${here}/node_modules/playwright-core")
    set(missing "the npm driver is not installed: run npm ci --prefix tests/doc_browser")
  endif()
endif()
if(missing)
  if("$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "the documentation page checks cannot run: ${missing}")
  endif()
  message("SKIPPED: ${missing}")
  return()
endif()

if(NOT MODE STREQUAL "html5")
  execute_process(
    COMMAND "${NODE}" "${here}/doc_browser.mjs" --binary "${BINARY}"
            --examples "${SOURCE_DIR}/examples" --gen "${SOURCE_DIR}/bench/gen_schema.py"
            --scratch "${SCRATCH}"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the documentation pages fail in the browser (${status}); "
                        "screenshots in ${SCRATCH}")
  endif()
  return()
endif()

# The pages of the bundled example, of a schema that fails the strict
# checks, and of one large enough to keep its details for later.
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
file(WRITE "${SCRATCH}/loops.pvx" "pavex*/\npavex module loops;\nstruct Loop { Loop again; };\n")
set(pages example loops large)
execute_process(COMMAND "${BINARY}" -q "--doc=${SCRATCH}/example.html"
                        "${SOURCE_DIR}/examples/orders.pvx" + "${SOURCE_DIR}/examples/common.pvx"
                RESULT_VARIABLE s1)
execute_process(COMMAND "${BINARY}" -q "--doc=${SCRATCH}/loops.html" "${SCRATCH}/loops.pvx"
                RESULT_VARIABLE s2)
execute_process(COMMAND python3 "${SOURCE_DIR}/bench/gen_schema.py" --out "${SCRATCH}/large"
                        -n 2100 -f 2 --formats pvx RESULT_VARIABLE s3)
execute_process(COMMAND "${BINARY}" -q "--doc=${SCRATCH}/large.html" "${SCRATCH}/large/main.pvx"
                RESULT_VARIABLE s4)
if(NOT s1 EQUAL 0 OR NOT s2 EQUAL 0 OR NOT s3 EQUAL 0 OR NOT s4 EQUAL 0)
  message(FATAL_ERROR "a page could not be written (${s1} ${s2} ${s3} ${s4})")
endif()
foreach(page IN LISTS pages)
  execute_process(COMMAND "${TIDY}" -errors -q "${SCRATCH}/${page}.html"
                  RESULT_VARIABLE status ERROR_VARIABLE report OUTPUT_QUIET)
  # tidy 5.6 knows no SVG 2 link (<a href> inside <svg>, which browsers
  # follow): that warning alone is allowed; any error, or any other
  # warning, fails.
  string(REGEX REPLACE "[^\n]*Warning: <a> proprietary attribute \"href\"\n" "" rest "${report}")
  if(status GREATER 1 OR NOT rest STREQUAL "")
    message(FATAL_ERROR "${page}.html is not clean HTML5 (tidy status ${status}):\n${rest}")
  endif()
  message("${page}.html: 0 errors")
endforeach()
