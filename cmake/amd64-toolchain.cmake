# Builds native 64-bit x86 (amd64) code with the host's g++ on amd64 Debian: the flavour for
# 64-bit hosts. Like the i386 flavour, C++ uses the old std::string ABI of the host framework
# (-D_GLIBCXX_USE_CXX11_ABI=0), and programs carry a DT_RPATH rather than a DT_RUNPATH so that
# the libraries they load are served too. Qt 5 Core is the machine's own amd64 package
# (qtbase5-dev, installed by scripts/setup.sh); no sysroot and no emulator are involved.
set(CMAKE_LIBRARY_ARCHITECTURE x86_64-linux-gnu)

# Nothing to run programs through, and no extra library folders: the machine's own are searched.
set(VRN3_I386_EMULATOR "" CACHE STRING "Unused in the amd64 flavour: its programs run natively" FORCE)
set(VRN3_SYSROOT "" CACHE PATH "Unused in the amd64 flavour" FORCE)
set(VRN3_SYSROOT_LIBDIRS "")

set(CMAKE_C_FLAGS_INIT "")
set(CMAKE_CXX_FLAGS_INIT "-D_GLIBCXX_USE_CXX11_ABI=0")

set(_vrn3_link "-Wl,--disable-new-dtags")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_vrn3_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_vrn3_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_vrn3_link}")
