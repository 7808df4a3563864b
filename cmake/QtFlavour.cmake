# The Qt flavour the plug-in, the stand-in host and the tests are built on.
#
# An event list carries a QList between the host and the plug-in, and Qt 4 and Qt 5
# lay out the list's shared data differently, so the plug-in must be built on the Qt
# its host runs: VRN3_QT=5 (the default, Qt 5 Core from Debian's packages in the
# sysroot) or VRN3_QT=4 (a Qt 4 Core of the user's, in VRN3_QT4_DIR). Defines:
#   VRN3::QtCore          the target every target of ours links, whichever Qt
#   VRN3_QT_SONAME        the Qt Core library's SONAME
#   VRN3_QT_LIBRARY       its file (a generator expression for Qt 5)
#   VRN3_QT_INCLUDE_DIRS  its include folders
# and, for Qt 4, adds its library folder to VRN3_SYSROOT_LIBDIRS.
set(VRN3_QT 5 CACHE STRING "Qt flavour to build on: 5 or 4")
set_property(CACHE VRN3_QT PROPERTY STRINGS 5 4)
set(VRN3_QT4_DIR "" CACHE PATH "Qt 4 Core for i386: the folder holding include/QtCore and lib/libQtCore.so.4")
if(VRN3_QT STREQUAL "5")
    find_package(Qt5Core REQUIRED)
    add_library(VRN3::QtCore INTERFACE IMPORTED GLOBAL)
    target_link_libraries(VRN3::QtCore INTERFACE Qt5::Core)
    get_target_property(VRN3_QT_INCLUDE_DIRS Qt5::Core INTERFACE_INCLUDE_DIRECTORIES)
    set(VRN3_QT_SONAME libQt5Core.so.5)
    set(VRN3_QT_LIBRARY "$<TARGET_FILE:Qt5::Core>")
elseif(VRN3_QT STREQUAL "4")
    if(NOT EXISTS "${VRN3_QT4_DIR}/include/QtCore/qlist.h" OR NOT EXISTS "${VRN3_QT4_DIR}/lib/libQtCore.so.4")
        message(FATAL_ERROR "VRN3_QT=4 needs VRN3_QT4_DIR, a folder with include/QtCore and "
                            "lib/libQtCore.so.4 (now '${VRN3_QT4_DIR}')")
    endif()
    # A copy of the folder made without its symbolic links holds in libQtCore.so.4 the
    # name of the file it linked to; then a link in the build tree stands in for it.
    set(_vrn3_qt4_lib "${VRN3_QT4_DIR}/lib/libQtCore.so.4")
    foreach(_hop RANGE 3)
        file(READ "${_vrn3_qt4_lib}" _vrn3_magic LIMIT 4 HEX)
        file(SIZE "${_vrn3_qt4_lib}" _vrn3_size)
        if(_vrn3_magic STREQUAL "7f454c46" OR _vrn3_size GREATER 255)
            break()
        endif()
        file(READ "${_vrn3_qt4_lib}" _vrn3_target)
        string(STRIP "${_vrn3_target}" _vrn3_target)
        set(_vrn3_qt4_lib "${VRN3_QT4_DIR}/lib/${_vrn3_target}")
    endforeach()
    set(VRN3_QT4_LIBDIR "${VRN3_QT4_DIR}/lib")
    if(NOT _vrn3_qt4_lib STREQUAL "${VRN3_QT4_DIR}/lib/libQtCore.so.4")
        set(VRN3_QT4_LIBDIR "${CMAKE_BINARY_DIR}/qt4-lib")
        file(MAKE_DIRECTORY "${VRN3_QT4_LIBDIR}")
        file(CREATE_LINK "${_vrn3_qt4_lib}" "${VRN3_QT4_LIBDIR}/libQtCore.so.4" SYMBOLIC)
    endif()
    set(VRN3_QT_INCLUDE_DIRS "${VRN3_QT4_DIR}/include" "${VRN3_QT4_DIR}/include/QtCore")
    add_library(VRN3::QtCore SHARED IMPORTED GLOBAL)
    set_target_properties(VRN3::QtCore PROPERTIES
        IMPORTED_LOCATION "${VRN3_QT4_LIBDIR}/libQtCore.so.4"
        IMPORTED_SONAME libQtCore.so.4
        INTERFACE_INCLUDE_DIRECTORIES "${VRN3_QT_INCLUDE_DIRS}"
        INTERFACE_COMPILE_DEFINITIONS "QT_SHARED;QT_CORE_LIB;QT_NO_DEBUG")
    set(VRN3_QT_SONAME libQtCore.so.4)
    set(VRN3_QT_LIBRARY "${VRN3_QT4_LIBDIR}/libQtCore.so.4")
    # Programs of ours find it through their build RPATH; the rest through this path.
    list(APPEND VRN3_SYSROOT_LIBDIRS "${VRN3_QT4_LIBDIR}")
else()
    message(FATAL_ERROR "VRN3_QT is '${VRN3_QT}'; it must be 5 or 4")
endif()
message(STATUS "Building on Qt ${VRN3_QT} (${VRN3_QT_SONAME})")
