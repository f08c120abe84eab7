# Fails when PROGRAM is larger than LIMIT bytes: the programs ship to a small panel PC.
# cmake -DPROGRAM=... -DLIMIT=... -P check_size.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT EXISTS ${PROGRAM})
  message(FATAL_ERROR "${PROGRAM} does not exist")
endif()
file(SIZE ${PROGRAM} size)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${PROGRAM} has ${size} bytes, more than its limit of ${LIMIT}")
endif()
message(STATUS "${PROGRAM}: ${size} bytes of at most ${LIMIT}")
