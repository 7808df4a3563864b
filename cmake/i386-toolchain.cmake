# Builds 32-bit x86 (i386) code with the host's multilib g++ on amd64 Debian.
# The flags must be in place before project() (this file is read there), or
# CMake would see 8-byte pointers and the x86_64 library architecture. C++ uses
# the old std::string ABI of the host framework (-D_GLIBCXX_USE_CXX11_ABI=0).
# i386 libraries such as Qt 5 Core come from a sysroot made by
# scripts/setup.sh (VRN3_SYSROOT); programs built here find them at run time
# through the build RPATH, so ctest and direct runs need no LD_LIBRARY_PATH.

# CMAKE_SYSTEM_NAME stays unset: i386 programs run on this host, natively or through an
# emulator, so this is not cross-compiling, and try_run checks still run.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

# Where the kernel cannot execute i386 programs (32-bit execution switched off, or another
# processor), they run under qemu-user: VRN3_I386_EMULATOR names the program to start them
# through, empty where they run natively. scripts/i386-emulator.sh makes the choice on the first
# configure (an emulator in the environment's VRN3_I386_EMULATOR forces the emulated path, on any
# machine); ctest, test discovery and try_run start every i386 program through it, and the
# scripts that start one read it from this cache.
if(DEFINED ENV{VRN3_I386_EMULATOR} AND NOT "$ENV{VRN3_I386_EMULATOR}" STREQUAL "")
    set(VRN3_I386_EMULATOR "$ENV{VRN3_I386_EMULATOR}" CACHE STRING "" FORCE)
    message(STATUS "i386: emulated through ${VRN3_I386_EMULATOR}: forced by VRN3_I386_EMULATOR")
endif()
if(NOT DEFINED VRN3_I386_EMULATOR)
    execute_process(COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/../scripts/i386-emulator.sh"
        OUTPUT_VARIABLE _vrn3_emulator OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_VARIABLE _vrn3_emulator_why ERROR_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE _vrn3_emulator_rc)
    if(NOT _vrn3_emulator_rc EQUAL 0)
        message(FATAL_ERROR "${_vrn3_emulator_why}")
    endif()
    message(STATUS "${_vrn3_emulator_why}")
    set(VRN3_I386_EMULATOR "${_vrn3_emulator}" CACHE STRING
        "Program that runs the i386 programs of the build (empty: they run natively)")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VRN3_I386_EMULATOR)
if(VRN3_I386_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${VRN3_I386_EMULATOR}")
endif()

# Default: build/deps/sysroot beside this file's source tree. Derived from this
# file's location so that try_compile projects resolve the same folder.
get_filename_component(_vrn3_default_sysroot "${CMAKE_CURRENT_LIST_DIR}/../build/deps/sysroot" ABSOLUTE)
set(VRN3_SYSROOT "${_vrn3_default_sysroot}" CACHE PATH "i386 sysroot made by scripts/setup.sh")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VRN3_SYSROOT)

set(VRN3_SYSROOT_LIBDIRS
    "${VRN3_SYSROOT}/usr/lib/i386-linux-gnu"
    "${VRN3_SYSROOT}/lib/i386-linux-gnu")

set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32 -D_GLIBCXX_USE_CXX11_ABI=0")

# DT_RPATH rather than DT_RUNPATH: an executable's DT_RPATH also serves the
# libraries it loads (Qt 5 Core needs ICU, PCRE2, zstd... from the sysroot),
# and libraries opened with dlopen; DT_RUNPATH would serve its own needs only.
set(_vrn3_link "-m32 -Wl,--disable-new-dtags")
foreach(_dir IN LISTS VRN3_SYSROOT_LIBDIRS)
    string(APPEND _vrn3_link " -Wl,-rpath-link,${_dir}")
endforeach()
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_vrn3_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_vrn3_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_vrn3_link}")

set(CMAKE_BUILD_RPATH "${VRN3_SYSROOT_LIBDIRS}")

# Packages (Qt5Core) come from the sysroot first, then from the host (amd64
# CMake packages are skipped by the library architecture above). Programs,
# libraries and headers are looked up on the host as usual.
set(CMAKE_FIND_ROOT_PATH "${VRN3_SYSROOT}")
set(CMAKE_PREFIX_PATH "${VRN3_SYSROOT}/usr;${VRN3_SYSROOT}/usr/lib/i386-linux-gnu/cmake")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
