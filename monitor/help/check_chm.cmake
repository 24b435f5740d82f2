# Fails the build unless the help compiler produced a real compiled help file; the
# compiler itself may exit with 0 after an error.
#   cmake -DINPUT=<chm> -P check_chm.cmake
if(NOT EXISTS "${INPUT}")
  message(FATAL_ERROR "help compiler wrote no file: ${INPUT}")
endif()
file(SIZE "${INPUT}" chm_size)
# An ITSF header alone is 96 bytes; anything that small holds no document.
if(chm_size LESS 1024)
  message(FATAL_ERROR "compiled help is too small (${chm_size} bytes): ${INPUT}")
endif()
file(READ "${INPUT}" chm_magic LIMIT 4 HEX)
if(NOT chm_magic STREQUAL "49545346")  # "ITSF"
  message(FATAL_ERROR "compiled help does not start with ITSF: ${INPUT}")
endif()
