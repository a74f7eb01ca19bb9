# The banner's build date honours SOURCE_DATE_EPOCH, in UTC, with a two-digit
# day: the last second of 2024-03-01 UTC must not become the 2nd anywhere.
set(ENV{SOURCE_DATE_EPOCH} 1709337599)
set(output "${WORK_DIR}/BuildDate.h")
file(REMOVE "${output}")
execute_process(COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} -P ${SCRIPT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the build date script failed: ${result}")
endif()
file(READ "${output}" content)
if(NOT content MATCHES "#define REELMAKE_BUILD_DATE \"2024-03-01\"")
  message(FATAL_ERROR "unexpected build date header:\n${content}")
endif()
