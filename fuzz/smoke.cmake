# One short fuzz run: a fresh working corpus in the build tree takes whatever the
# run finds; the committed seeds are only read. Crash inputs land in WORK/artifacts/.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
          -artifact_prefix=${WORK}/artifacts/ -print_final_stats=1 ${WORK}/corpus ${SEEDS}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${status}); the input is in ${WORK}/artifacts/")
endif()
