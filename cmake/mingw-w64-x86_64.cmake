# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the POSIX
# threading flavour: OpenMP's runtime needs its pthreads layer).
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# KELMO_WINDOWS_DEPS names the folder where scripts/build-windows-deps.sh
# installed zlib, libpng, libjpeg-turbo, LAPACKE and GoogleTest built for
# Windows; find_package and find_library look there and never on the host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELMO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELMO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELMO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_Fortran_COMPILER ${KELMO_MINGW_TRIPLE}-gfortran-posix)
set(CMAKE_RC_COMPILER ${KELMO_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KELMO_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KELMO_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

if(NOT KELMO_WINDOWS_DEPS)
  get_filename_component(KELMO_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build-windows/deps/prefix" ABSOLUTE)
endif()
set(KELMO_WINDOWS_DEPS "${KELMO_WINDOWS_DEPS}" CACHE PATH "Windows builds of the dependencies")
# try_compile projects see the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELMO_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${KELMO_MINGW_TRIPLE} ${KELMO_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under Wine: the tests and the generator of the data
# directory. Headless, quiet, in a Wine prefix of the build folder's own
# (beside deps/), with no offer to install Wine's .NET or browser add-ons.
find_program(KELMO_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KELMO_WINE AND NOT KELMO_NO_EMULATOR)
  get_filename_component(KELMO_WINEPREFIX "${KELMO_WINDOWS_DEPS}/../../wine" ABSOLUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEPREFIX=${KELMO_WINEPREFIX} WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY= ${KELMO_WINE})
endif()
