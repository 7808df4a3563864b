# Install rules and Debian packages of the plug-in, the stand-in host and the headers.
#
# `cmake --install <build> [--prefix P]` lays out, under P (default /usr):
#   lib/i386-linux-gnu/vrn3/plugins/libVRN3SoundStream.so.1   the plug-in          (plugin)
#   lib/i386-linux-gnu/libvrn3host.so.1                        stand-in host        (host)
#   lib/i386-linux-gnu/libvrn3capture.so.1                     capture recorder     (capture)
#   bin/vrn3-play                                              command-line host    (play)
#   bin/vrn3-replay                                            capture replay       (play)
#   include/vrn3/{blocks,records,host,capture}/*.h, lib/.../libvrn3{host,capture}.so,
#   lib/.../cmake/VRN3SoundStream/ (CMake package),
#   lib/.../pkgconfig/vrn3{host,capture}.pc,
#   share/doc/vrn3soundstream-dev/{integration,records,block-flow,check-your-brick}.md (dev)
#   share/man/man1/vrn3-{play,replay}.1, share/vrn3/wireshark/vrn3-capture.lua        (play)
# Nothing installed names P or the build tree, so P may be moved: the CMake package and the
# pkg-config files find P from their own place, and vrn3-play finds the host and capture
# libraries through $ORIGIN (scripts/example-check.sh proves it, with the examples of examples/).
# The part in brackets is the install component, and each component is one .deb:
#   plugin -> vrn3soundstream, host -> libvrn3host1, capture -> libvrn3capture1, play -> vrn3-play,
#   dev -> vrn3soundstream-dev.
#
# Where the plug-in goes: lib/i386-linux-gnu is the Debian multiarch folder of i386 libraries,
# so the i386 plug-in sits beside the i386 Qt and C++ runtime it needs and never collides with
# an amd64 build of anything; the amd64 flavour installs the same files under lib/x86_64-linux-gnu
# (the toolchain's CMAKE_LIBRARY_ARCHITECTURE), so both flavours' packages install side by side. A plug-in is opened by path with dlopen, not found by the dynamic
# linker, so it goes into a private folder of its own below that (as Debian keeps plug-ins in
# /usr/lib/<triplet>/<package>/), where a host can list every plug-in it may load; ldconfig never
# sees it and no program links against it, so it has no development symlink.
#
# Why the host library is a package of its own: the plug-in needs *a* host framework that
# exports CBrick, the locks and cMemBlock's out-of-line parts under the SONAME libvrn3host.so.1;
# in production that is the real host's library, and our stand-in must not be forced on such a
# machine. So the stand-in package provides the virtual package vrn3-host-abi-1 and the plug-in
# depends on that virtual package: any host framework of this binary interface satisfies it.
# The Qt 4 flavour's interface is another one (the event list's QList differs), so its virtual
# package is vrn3-host-abi-1-qt4: a Qt 5 host cannot satisfy a Qt 4 plug-in, nor the reverse.
# The capture library is a package of its own too: it knows the stream's records, which the host
# library must not, and only a host that records captures needs it. It is built against the
# stand-in host library of this build and depends on that package at this very version.
#
# Depends are written here, not computed: dpkg-shlibdeps needs the i386 libraries registered in
# dpkg's database, and this build takes them from a sysroot instead. The lower bounds are the
# versions this build compiles and links against (the C library of the toolchain, the compiler's
# libstdc++, the sysroot's Qt), which the binaries may need and never exceed.
# scripts/package-check.sh checks that every NEEDED library of every packaged binary is covered.

set(VRN3_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}")
set(VRN3_INSTALL_PLUGINDIR "${VRN3_INSTALL_LIBDIR}/vrn3/plugins")
set(VRN3_INSTALL_INCLUDEROOT "include")
set(VRN3_INSTALL_INCLUDEDIR "${VRN3_INSTALL_INCLUDEROOT}/vrn3")
set(VRN3_INSTALL_CMAKEDIR "${VRN3_INSTALL_LIBDIR}/cmake/VRN3SoundStream")
set(VRN3_INSTALL_PCDIR "${VRN3_INSTALL_LIBDIR}/pkgconfig")
set(VRN3_PACKAGE_VERSION "1.0.0")

# What the host-side files (pkg-config files, CMake package) say of their flavour: an i386 host is
# compiled and linked with -m32, which needs the multilib toolchain (Debian's g++-multilib).
if(VRN3_FLAVOUR STREQUAL "i386")
    set(VRN3_HOST_FLAVOUR_NOTE "the i386 flavour: build hosts with -m32 (g++-multilib)")
else()
    set(VRN3_HOST_FLAVOUR_NOTE "the amd64 flavour: build hosts 64-bit, the compiler's default")
endif()

# The Qt flavour everything links: 5 (Debian's Qt 5 Core) unless the build chose Qt 4, whose Core
# comes from the folder VRN3_QT4_DIR (include/QtCore, lib/libQtCore.so.4) outside any package.
if(DEFINED VRN3_QT)
    set(VRN3_QT_FLAVOUR "${VRN3_QT}")
else()
    set(VRN3_QT_FLAVOUR 5)
endif()

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX "/usr" CACHE PATH "Install prefix" FORCE)
endif()

# Library search paths. Built here, our programs carry a DT_RPATH naming the sysroot and the
# build's host folder. Installed, nothing may name the build tree or the prefix:
# - the host and capture libraries and the plug-in carry no search path at all, in the build
#   tree and installed: the host library needs the C/C++ runtime and Qt Core, found where the system
#   keeps them, the capture library also the host library, which lies beside it, and the plug-in is
#   loaded into a host process that has already loaded the host framework and Qt Core (a build-tree
#   program's DT_RPATH serves the libraries it loads, too);
# - the installed vrn3-play and vrn3-replay find the host and capture libraries through $ORIGIN.
# CMake's own rewriting of an installed target's path pads the build-tree path with a trailing
# ':' (room for the rewrite), which is an empty entry: the loader then searches the working
# folder. So vrn3-play is installed as a file whose path is set after the copy, and the three
# libraries have none to rewrite.
set_target_properties(vrn3host vrn3capture VRN3SoundStream PROPERTIES SKIP_BUILD_RPATH ON)
set(VRN3_PLAY_INSTALL_RPATH "$ORIGIN/../${VRN3_INSTALL_LIBDIR}")

# Debug information names source files relative to the source tree and the build tree, as
# Debian's builds do, the sysroot's headers by their paths on an i386 system, and the Qt 4
# headers relative to the Qt 4 folder (include/QtCore/...), the layout the host's own Qt 4 folder
# has, so that no folder of the build machine shows in an installed file or a debug package.
# (The last map that matches wins: the Qt 4 folder, given as a path through the source tree
# "../shared/qt4-i386", is mapped after the source tree.) The maps go to the links as well:
# objects optimised at link time get their debug information there, named after the folder the
# link runs in.
set(_vrn3_prefix_maps "-ffile-prefix-map=${PROJECT_BINARY_DIR}/=" "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=")
if(VRN3_SYSROOT)
    get_filename_component(_vrn3_sysroot_real "${VRN3_SYSROOT}" REALPATH)
    list(APPEND _vrn3_prefix_maps "-ffile-prefix-map=${VRN3_SYSROOT}=" "-ffile-prefix-map=${_vrn3_sysroot_real}=")
endif()
if(VRN3_QT_FLAVOUR EQUAL 4)
    get_filename_component(_vrn3_qt4_real "${VRN3_QT4_DIR}" REALPATH)
    list(APPEND _vrn3_prefix_maps "-ffile-prefix-map=${VRN3_QT4_DIR}/=" "-ffile-prefix-map=${_vrn3_qt4_real}/=")
endif()
foreach(_vrn3_target vrn3host vrn3monitor vrn3capture vrn3capturereader vrn3stream VRN3SoundStream vrn3tools vrn3play
        vrn3taps vrn3-play vrn3-replay)
    if(TARGET ${_vrn3_target})
        target_compile_options(${_vrn3_target} PRIVATE ${_vrn3_prefix_maps})
        target_link_options(${_vrn3_target} PRIVATE ${_vrn3_prefix_maps})
    endif()
endforeach()

install(TARGETS VRN3SoundStream
    LIBRARY DESTINATION "${VRN3_INSTALL_PLUGINDIR}" COMPONENT plugin NAMELINK_SKIP)

install(TARGETS vrn3host
    LIBRARY DESTINATION "${VRN3_INSTALL_LIBDIR}" COMPONENT host NAMELINK_COMPONENT dev)
install(TARGETS vrn3capture
    LIBRARY DESTINATION "${VRN3_INSTALL_LIBDIR}" COMPONENT capture NAMELINK_COMPONENT dev)

foreach(_vrn3_program vrn3-play vrn3-replay)
    if(TARGET ${_vrn3_program})
        install(PROGRAMS "$<TARGET_FILE:${_vrn3_program}>" DESTINATION bin COMPONENT play)
        install(CODE "set(_vrn3_play \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${_vrn3_program}\")
            file(RPATH_SET FILE \"\${_vrn3_play}\" NEW_RPATH \"${VRN3_PLAY_INSTALL_RPATH}\")
            if(CMAKE_INSTALL_DO_STRIP)
                execute_process(COMMAND \"${CMAKE_STRIP}\" \"\${_vrn3_play}\")
            endif()" COMPONENT play)
    endif()
endforeach()

# What a host author compiles against: the brick interface and block framework (blocks/), the
# code table and record layouts (records/), the stand-in's pipeline and plug-in loading
# (host/CPipeline.h, host/CPluginLibrary.h, host/CBrickTap.h), the brick monitor
# (host/CBrickMonitor.h) and, from the capture library, the
# recorder a host of its own calls at its delivery points (capture/CCaptureRecorder.h).
# The headers include each other by relative paths, which this layout keeps.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/blocks" "${PROJECT_SOURCE_DIR}/records"
    DESTINATION "${VRN3_INSTALL_INCLUDEDIR}" COMPONENT dev FILES_MATCHING PATTERN "*.h")
install(FILES "${PROJECT_SOURCE_DIR}/host/CPipeline.h" "${PROJECT_SOURCE_DIR}/host/CPluginLibrary.h"
    "${PROJECT_SOURCE_DIR}/host/CBrickTap.h" "${PROJECT_SOURCE_DIR}/host/CBrickMonitor.h"
    DESTINATION "${VRN3_INSTALL_INCLUDEDIR}/host" COMPONENT dev)
install(FILES "${PROJECT_SOURCE_DIR}/capture/CCaptureRecorder.h" "${PROJECT_SOURCE_DIR}/capture/CBlockWire.h"
    "${PROJECT_SOURCE_DIR}/capture/CaptureApi.h"
    DESTINATION "${VRN3_INSTALL_INCLUDEDIR}/capture" COMPONENT dev)

# The CMake package (VRN3SoundStream::host, VRN3SoundStream::capture, VRN3SoundStream_PLUGIN) and
# the pkg-config files of the host and capture libraries; all find the prefix from their own place.
include(CMakePackageConfigHelpers)
set(VRN3_QT5_MIN "")
if(VRN3_QT_FLAVOUR EQUAL 5)
    set(VRN3_QT5_MIN "${Qt5Core_VERSION_MAJOR}.${Qt5Core_VERSION_MINOR}")
    set(VRN3_PC_REQUIRES "Qt5Core >= ${VRN3_QT5_MIN}")
else()
    # Qt 4 Core is the host's, in a folder the host names when it builds (no Debian package has
    # it): the pkg-config variable qt4dir, by default the package's own prefix. Nothing of this
    # build's Qt 4 folder is written into an installed file.
    set(VRN3_PC_REQUIRES "")
    set(VRN3_PC_QT_VARIABLES "qt4dir=\${prefix}")
    set(VRN3_PC_QT_LIBS "\${qt4dir}/lib/libQtCore.so.4")
    set(VRN3_PC_QT_CFLAGS "-I\${qt4dir}/include -I\${qt4dir}/include/QtCore -DQT_SHARED -DQT_CORE_LIB -DQT_NO_DEBUG")
endif()
configure_package_config_file("${PROJECT_SOURCE_DIR}/packaging/VRN3SoundStreamConfig.cmake.in"
    "${PROJECT_BINARY_DIR}/packaging/VRN3SoundStreamConfig.cmake"
    INSTALL_DESTINATION "${VRN3_INSTALL_CMAKEDIR}"
    PATH_VARS VRN3_INSTALL_LIBDIR VRN3_INSTALL_INCLUDEROOT VRN3_INSTALL_PLUGINDIR)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/packaging/VRN3SoundStreamConfigVersion.cmake"
    VERSION "${VRN3_PACKAGE_VERSION}" COMPATIBILITY SameMajorVersion)
file(RELATIVE_PATH VRN3_PC_TO_PREFIX "/prefix/${VRN3_INSTALL_PCDIR}" "/prefix")
string(REGEX REPLACE "/$" "" VRN3_PC_TO_PREFIX "${VRN3_PC_TO_PREFIX}")
foreach(_vrn3_pc vrn3host vrn3capture)
    configure_file("${PROJECT_SOURCE_DIR}/packaging/${_vrn3_pc}.pc.in" "${PROJECT_BINARY_DIR}/packaging/${_vrn3_pc}.pc" @ONLY)
endforeach()
install(FILES "${PROJECT_BINARY_DIR}/packaging/VRN3SoundStreamConfig.cmake"
              "${PROJECT_BINARY_DIR}/packaging/VRN3SoundStreamConfigVersion.cmake"
    DESTINATION "${VRN3_INSTALL_CMAKEDIR}" COMPONENT dev)
install(FILES "${PROJECT_BINARY_DIR}/packaging/vrn3host.pc" "${PROJECT_BINARY_DIR}/packaging/vrn3capture.pc"
    DESTINATION "${VRN3_INSTALL_PCDIR}" COMPONENT dev)

# Package names and Qt: the Qt 4 flavour's packages carry the suffix -qt4 (they hold the same
# files as the Qt 5 ones, so each conflicts with its Qt 5 twin). Debian has no Qt 4 package; the
# Qt 4 flavour depends on nothing of Qt and the host provides libQtCore.so.4.
if(VRN3_QT_FLAVOUR EQUAL 4)
    set(_vrn3_suffix "-qt4")
    set(_vrn3_qt "")
    set(_vrn3_qt_dev "")
else()
    set(_vrn3_suffix "")
    set(_vrn3_qt ", libqt5core5a (>= ${Qt5Core_VERSION})")
    set(_vrn3_qt_dev ", qtbase5-dev")
endif()
set(_vrn3_pkg_plugin "vrn3soundstream${_vrn3_suffix}")
set(_vrn3_pkg_host "libvrn3host1${_vrn3_suffix}")
set(_vrn3_pkg_capture "libvrn3capture1${_vrn3_suffix}")
set(_vrn3_pkg_play "vrn3-play${_vrn3_suffix}")
set(_vrn3_pkg_dev "vrn3soundstream-dev${_vrn3_suffix}")

# Every package carries the project's copyright file and its changelog, as Debian wants them.
set(_vrn3_changelog "${PROJECT_BINARY_DIR}/packaging/changelog.gz")
execute_process(COMMAND gzip -9n -c "${PROJECT_SOURCE_DIR}/packaging/debian/changelog"
    OUTPUT_FILE "${_vrn3_changelog}" RESULT_VARIABLE _vrn3_rc)
if(NOT _vrn3_rc EQUAL 0)
    message(FATAL_ERROR "could not compress packaging/debian/changelog")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/packaging/debian/changelog")
foreach(_vrn3_component plugin host capture play dev)
    install(FILES "${PROJECT_SOURCE_DIR}/packaging/debian/copyright" "${_vrn3_changelog}"
        DESTINATION "share/doc/${_vrn3_pkg_${_vrn3_component}}" COMPONENT ${_vrn3_component})
endforeach()

# A host author's documents go with the headers: the guide, the records byte for byte and the
# roads of a record and a request through the brick (they link to each other by file name).
install(FILES "${PROJECT_SOURCE_DIR}/docs/integration.md" "${PROJECT_SOURCE_DIR}/docs/records.md"
    "${PROJECT_SOURCE_DIR}/docs/block-flow.md" "${PROJECT_SOURCE_DIR}/docs/check-your-brick.md"
    DESTINATION "share/doc/${_vrn3_pkg_dev}" COMPONENT dev)

# Lower bounds of the runtime packages (see above).
execute_process(COMMAND getconf GNU_LIBC_VERSION OUTPUT_VARIABLE _vrn3_libc OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX MATCH "[0-9]+\\.[0-9]+" _vrn3_libc "${_vrn3_libc}")
string(REGEX MATCH "^[0-9]+" _vrn3_gcc "${CMAKE_CXX_COMPILER_VERSION}")
set(_vrn3_runtime "libc6 (>= ${_vrn3_libc}), libgcc-s1 (>= 3.0), libstdc++6 (>= ${_vrn3_gcc})")
set(_vrn3_exact "(= ${VRN3_PACKAGE_VERSION})")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "vrn3soundstream")
set(CPACK_PACKAGE_VERSION "${VRN3_PACKAGE_VERSION}")
set(CPACK_PACKAGE_VENDOR "VRN3SoundStream developers")
set(CPACK_PACKAGE_CONTACT "VRN3SoundStream maintainers <maintainers@vrn3.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL plugin host capture dev)
if(TARGET vrn3-play)
    list(APPEND CPACK_COMPONENTS_ALL play)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VRN3_FLAVOUR})
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
# Binaries are stripped; their debug information goes into a -dbgsym package beside each one
# (/usr/lib/debug/.build-id/..., found by gdb through the build id).
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# "Multi-Arch: same" for the host and capture libraries, the plug-in and the development package:
# they hold files only under the multiarch folder of their architecture (i386-linux-gnu,
# x86_64-linux-gnu) and headers and documents identical on every architecture, so the i386 and
# the amd64 packages can be installed side by side. The libraries' shlibs files: a program linked
# against libvrn3host.so.1 (libvrn3capture.so.1) depends on its package at this version or later.
# CPack's DEB generator can say neither per package; packaging/DebControl.cmake adds both once
# the packages are made.
set(CPACK_VRN3_MULTIARCH_SAME "${_vrn3_pkg_host}" "${_vrn3_pkg_capture}" "${_vrn3_pkg_plugin}" "${_vrn3_pkg_dev}")
set(CPACK_VRN3_SHLIBS_${_vrn3_pkg_host} "libvrn3host 1 ${_vrn3_pkg_host} (>= ${VRN3_PACKAGE_VERSION})")
set(CPACK_VRN3_SHLIBS_${_vrn3_pkg_capture} "libvrn3capture 1 ${_vrn3_pkg_capture} (>= ${VRN3_PACKAGE_VERSION})")
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/packaging/DebControl.cmake")

set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME "${_vrn3_pkg_plugin}")
set(CPACK_DEBIAN_PLUGIN_PACKAGE_DEPENDS "${_vrn3_runtime}${_vrn3_qt}, vrn3-host-abi-1${_vrn3_suffix}")
set(CPACK_COMPONENT_PLUGIN_DESCRIPTION "VRN3 sound stream extractor plug-in (brick) for the host media framework\nlibVRN3SoundStream.so.1 picks one sound stream out of a demultiplexed VRN3 stream and hands\nits sound records to the next brick, chunk by chunk as the host requests them.")

set(CPACK_DEBIAN_HOST_PACKAGE_NAME "${_vrn3_pkg_host}")
set(CPACK_DEBIAN_HOST_PACKAGE_DEPENDS "${_vrn3_runtime}${_vrn3_qt}")
set(CPACK_DEBIAN_HOST_PACKAGE_PROVIDES "vrn3-host-abi-1${_vrn3_suffix}")
set(CPACK_COMPONENT_HOST_DESCRIPTION "Stand-in host brick framework for VRN3 plug-ins\nlibvrn3host.so.1: bricks, locks, blocks and a pipeline runner with the binary interface\nof the host framework, for running and testing plug-ins without the real host.")

set(CPACK_DEBIAN_CAPTURE_PACKAGE_NAME "${_vrn3_pkg_capture}")
set(CPACK_DEBIAN_CAPTURE_PACKAGE_DEPENDS "${_vrn3_runtime}${_vrn3_qt}, ${_vrn3_pkg_host} ${_vrn3_exact}")
set(CPACK_COMPONENT_CAPTURE_DESCRIPTION "Capture recorder for hosts of VRN3 plug-ins\nlibvrn3capture.so.1 records what crosses a brick's boundary into a pcapng file, for\nWireshark and for replaying against a build of the plug-in.")

set(CPACK_DEBIAN_PLAY_PACKAGE_NAME "${_vrn3_pkg_play}")
set(CPACK_DEBIAN_PLAY_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PLAY_PACKAGE_DEPENDS
    "${_vrn3_runtime}${_vrn3_qt}, ${_vrn3_pkg_host} ${_vrn3_exact}, ${_vrn3_pkg_capture} ${_vrn3_exact}, ${_vrn3_pkg_plugin} ${_vrn3_exact}")
set(CPACK_COMPONENT_PLAY_DESCRIPTION "Command-line host for the VRN3 sound stream plug-in\nvrn3-play runs the plug-in in the stand-in host on a stream made from a sound file.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME "${_vrn3_pkg_dev}")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${_vrn3_pkg_host} ${_vrn3_exact}, ${_vrn3_pkg_capture} ${_vrn3_exact}${_vrn3_qt_dev}")
set(CPACK_COMPONENT_DEV_DESCRIPTION "Headers, CMake package and pkg-config files for hosts of the VRN3 sound stream plug-in\nThe brick interface, block framework and record layouts that a host shares with the plug-in;\nfind_package(VRN3SoundStream) and pkg-config vrn3host, vrn3capture.")

if(VRN3_QT_FLAVOUR EQUAL 4)
    foreach(_vrn3_component PLUGIN HOST CAPTURE PLAY DEV)
        string(TOLOWER "${_vrn3_component}" _vrn3_lower)
        string(REPLACE "-qt4" "" _vrn3_twin "${_vrn3_pkg_${_vrn3_lower}}")
        set(CPACK_DEBIAN_${_vrn3_component}_PACKAGE_CONFLICTS "${_vrn3_twin}")
        string(APPEND CPACK_COMPONENT_${_vrn3_component}_DESCRIPTION
            "\nQt 4 flavour: the host provides Qt 4.8 Core (libQtCore.so.4); no Debian package does.")
    endforeach()
endif()

include(CPack)
