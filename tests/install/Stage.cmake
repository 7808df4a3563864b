# Installs a build tree into a fresh staging folder, as a packager does, and checks the layout
# that hosts and packages rely on.
#   cmake -DBUILD=<build dir> -DSTAGE=<empty folder to make> -DMULTIARCH=<triplet> -P Stage.cmake
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${STAGE}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install ${BUILD} --prefix ${STAGE} failed (${rc})")
endif()

set(lib "${STAGE}/lib/${MULTIARCH}")
foreach(file
        "${lib}/vrn3/plugins/libVRN3SoundStream.so.1"
        "${lib}/libvrn3host.so.1"
        "${lib}/libvrn3capture.so.1"
        "${STAGE}/include/vrn3/capture/CCaptureRecorder.h"
        "${STAGE}/include/vrn3/blocks/CBrick.h"
        "${STAGE}/include/vrn3/records/StreamRecords.h")
    if(NOT EXISTS "${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
# Each library's development link points at its SONAME file; a plug-in has no such link.
foreach(name vrn3host vrn3capture)
    file(READ_SYMLINK "${lib}/lib${name}.so" target)
    if(NOT target STREQUAL "lib${name}.so.1")
        message(FATAL_ERROR "lib${name}.so points at '${target}'")
    endif()
endforeach()
file(GLOB extra "${lib}/vrn3/plugins/*")
list(LENGTH extra count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "the plug-in folder holds more than the plug-in: ${extra}")
endif()
message(STATUS "installed into ${STAGE}")
