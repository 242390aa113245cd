# Fails when a source under SOURCE_DIR includes a file by a relative or an
# absolute path ("../net/Web.h", "/..."). Such a path would reach past the
# layer include roots that keep each library to the layers below it.
#
#   cmake -DSOURCE_DIR=<src> -P CheckRelativeIncludes.cmake
file(GLOB_RECURSE sources ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
set(found "")
foreach(source ${sources})
  file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<](\\.\\.|/)")
  foreach(line ${lines})
    file(RELATIVE_PATH name ${SOURCE_DIR} ${source})
    string(APPEND found "  ${name}: ${line}\n")
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "Includes by a relative or absolute path; include \"<layer>/<File>.h\" instead:\n${found}")
endif()
