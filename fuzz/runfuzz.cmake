# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one libFuzzer target for a bounded time and fails on anything it finds.
# Called by ctest with -D FUZZER, SEEDS, CORPUS, ARTIFACTS, LOG and SECONDS.
# The full libFuzzer output goes to LOG; on success only the run count is
# printed, on failure the end of the log with the report.
file(MAKE_DIRECTORY "${CORPUS}" "${ARTIFACTS}")
# New seeds join what earlier runs found; nothing is thrown away.
file(COPY "${SEEDS}/" DESTINATION "${CORPUS}")

execute_process(
    COMMAND "${FUZZER}"
        -max_total_time=${SECONDS}
        -max_len=1100
        -timeout=25
        -print_final_stats=1
        "-artifact_prefix=${ARTIFACTS}/"
        "${CORPUS}"
    RESULT_VARIABLE rc
    OUTPUT_FILE "${LOG}"
    ERROR_FILE "${LOG}")

file(READ "${LOG}" output)
get_filename_component(name "${FUZZER}" NAME)
if(NOT rc EQUAL 0)
    string(LENGTH "${output}" length)
    if(length GREATER 12000)
        math(EXPR start "${length} - 12000")
        string(SUBSTRING "${output}" ${start} -1 output)
    endif()
    message("${output}")
    message(FATAL_ERROR "${name} failed (exit ${rc}); input saved under ${ARTIFACTS}, full log ${LOG}")
endif()
if(NOT output MATCHES "Done ([0-9]+) runs in ([0-9]+) second")
    message(FATAL_ERROR "${name} exited without finishing its run; see ${LOG}")
endif()
set(runs ${CMAKE_MATCH_1})
set(seconds ${CMAKE_MATCH_2})
file(GLOB corpus "${CORPUS}/*")
list(LENGTH corpus inputs)
message("${name}: Done ${runs} runs in ${seconds} s, corpus ${inputs} inputs")
