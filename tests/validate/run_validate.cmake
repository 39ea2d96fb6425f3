# Runs the independent ABNF validation (cmake -P script).
# Variables: SOURCE_DIR, BINARY, SCRATCH; MODE=agreement runs the agreement
# of examples, checker and strict grammar (agreement.mjs) instead, MODE=json
# the round trips of the JSON bridge judged by ajv (json_roundtrip.mjs).
# Without node or without the installed npm packages the test is skipped,
# except under CI (CI=true), where that is a failure.

set(here "${SOURCE_DIR}/tests/validate")
find_program(NODE node)
set(missing "")
if(NOT NODE)
  set(missing "node is not installed (Debian package nodejs)")
elseif(NOT EXISTS "${here}/node_modules/apg-js" OR NOT EXISTS "${here}/node_modules/abnf"
       OR NOT EXISTS "${here}/node_modules/nearley" OR NOT EXISTS "${here}/node_modules/ajv")
  set(missing "the npm packages are not installed: run npm ci --prefix tests/validate")
endif()
if(missing)
  if("$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "ABNF validation cannot run: ${missing}")
  endif()
  message("SKIPPED: ${missing}")
  return()
endif()

if(MODE STREQUAL "json")
  execute_process(
    COMMAND "${NODE}" "${here}/json_roundtrip.mjs" --binary "${BINARY}" --work "${SCRATCH}"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the JSON bridge fails its round trips (${status})")
  endif()
  return()
endif()

if(MODE STREQUAL "agreement")
  execute_process(
    COMMAND "${NODE}" "${here}/agreement.mjs" --binary "${BINARY}" --work "${SCRATCH}"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "examples, checker and strict grammar disagree (${status})")
  endif()
  return()
endif()

# The validator's own checks first, then the validation.
execute_process(COMMAND "${NODE}" --test "${here}/validate.test.mjs"
  WORKING_DIRECTORY "${here}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the validator's own checks failed (${status})")
endif()

execute_process(
  COMMAND "${NODE}" "${here}/validate.mjs" --binary "${BINARY}" --root "${SOURCE_DIR}"
          --work "${SCRATCH}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ABNF validation failed (${status})")
endif()
