# Installs a build tree into a fresh staging folder, as a packager does, and checks the layout
# that hosts and packages rely on.
#   cmake -DBUILD=<build dir> -DSTAGE=<empty folder to make> -P Stage.cmake
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${STAGE}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install ${BUILD} --prefix ${STAGE} failed (${rc})")
endif()

set(lib "${STAGE}/lib/i386-linux-gnu")
foreach(file
        "${lib}/vrn3/plugins/libVRN3SoundStream.so.1"
        "${lib}/libvrn3host.so.1"
        "${STAGE}/include/vrn3/blocks/CBrick.h"
        "${STAGE}/include/vrn3/records/StreamRecords.h")
    if(NOT EXISTS "${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
# The host library's development link points at the SONAME file; a plug-in has no such link.
file(READ_SYMLINK "${lib}/libvrn3host.so" target)
if(NOT target STREQUAL "libvrn3host.so.1")
    message(FATAL_ERROR "libvrn3host.so points at '${target}'")
endif()
file(GLOB extra "${lib}/vrn3/plugins/*")
list(LENGTH extra count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "the plug-in folder holds more than the plug-in: ${extra}")
endif()
message(STATUS "installed into ${STAGE}")
