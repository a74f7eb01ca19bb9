# Writes OUTPUT with the UTC build date; string(TIMESTAMP) honours
# SOURCE_DATE_EPOCH, which makes the stamp reproducible.
string(TIMESTAMP buildDate "%Y-%m-%d" UTC)
set(content "#pragma once\n#define REELMAKE_BUILD_DATE \"${buildDate}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
endif()
if(NOT "${previous}" STREQUAL "${content}")
  file(WRITE "${OUTPUT}" "${content}")
endif()
