# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads)
# against the Qt kit tools/windows-kit.sh makes; tools/make-windows.sh uses it:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKKM_WINDOWS_KIT=<kit> ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KKM_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KKM_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KKM_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KKM_MINGW_TRIPLET}-windres)

# The kit's folder also reaches CMake's test compilations, which read this
# file again without the cache.
if(NOT KKM_WINDOWS_KIT AND DEFINED ENV{KKM_WINDOWS_KIT})
  set(KKM_WINDOWS_KIT $ENV{KKM_WINDOWS_KIT})
endif()
if(NOT KKM_WINDOWS_KIT OR NOT EXISTS ${KKM_WINDOWS_KIT}/lib/cmake/Qt6)
  message(FATAL_ERROR "No Qt kit for Windows in '${KKM_WINDOWS_KIT}': run tools/windows-kit.sh "
                      "and pass its folder as -DKKM_WINDOWS_KIT=")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KKM_WINDOWS_KIT)

set(CMAKE_FIND_ROOT_PATH /usr/${KKM_MINGW_TRIPLET} ${KKM_WINDOWS_KIT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# moc, uic and rcc are the host's, of the kit's version.
set(QT_HOST_PATH /usr CACHE PATH "Host Qt for the cross build")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Host Qt's CMake packages")
