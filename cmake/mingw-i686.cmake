# The 32-bit Windows program built on Debian with mingw-w64: GCC with posix
# threads (std::thread, std::mutex), linked -static so that a program imports
# only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(PANOVIEW_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${PANOVIEW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PANOVIEW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PANOVIEW_MINGW_PREFIX}-windres)
set(CMAKE_AR ${PANOVIEW_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${PANOVIEW_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# CTest runs the test programs with Wine (tests/support/CMakeLists.txt).
find_program(PANOVIEW_WINE wine)
if(PANOVIEW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PANOVIEW_WINE})
endif()

# Libraries and packages come from the mingw sysroot and from the folder that
# scripts/windows-deps installed the cross-built libraries to
# (PANOVIEW_WINDOWS_DEPS); programs come from the build machine. pkg-config
# reads only that folder's files, never the build machine's.
if(NOT PANOVIEW_WINDOWS_DEPS)
  message(FATAL_ERROR "PANOVIEW_WINDOWS_DEPS: the folder scripts/windows-deps installed to")
endif()
set(ENV{PKG_CONFIG_LIBDIR} ${PANOVIEW_WINDOWS_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_FIND_ROOT_PATH /usr/${PANOVIEW_MINGW_PREFIX} ${PANOVIEW_WINDOWS_DEPS})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PANOVIEW_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
