# Cross-builds Morvane for 64-bit Windows with Debian's MinGW-w64 (the
# POSIX-threads compilers) and a Qt 5.15 built for win32-g++:
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DMORVANE_QT_MINGW=/path/to/qt-5.15.8-mingw64 -DBUILD_TESTING=OFF
#
# scripts/build-windows.sh builds that Qt and runs this. MORVANE_QT_MINGW may
# also come from the environment. MORVANE_MINGW_BIN may name a folder holding
# x86_64-w64-mingw32-g++ and friends; otherwise the -posix compilers on PATH
# are used.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MORVANE_MINGW_TRIPLE x86_64-w64-mingw32)

if(NOT MORVANE_QT_MINGW AND DEFINED ENV{MORVANE_QT_MINGW})
    set(MORVANE_QT_MINGW "$ENV{MORVANE_QT_MINGW}")
endif()
if(NOT MORVANE_MINGW_BIN AND DEFINED ENV{MORVANE_MINGW_BIN})
    set(MORVANE_MINGW_BIN "$ENV{MORVANE_MINGW_BIN}")
endif()
# try_compile() projects read this file again without the cache: pass them on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MORVANE_QT_MINGW MORVANE_MINGW_BIN)

if(MORVANE_MINGW_BIN)
    set(CMAKE_C_COMPILER ${MORVANE_MINGW_BIN}/${MORVANE_MINGW_TRIPLE}-gcc)
    set(CMAKE_CXX_COMPILER ${MORVANE_MINGW_BIN}/${MORVANE_MINGW_TRIPLE}-g++)
else()
    set(CMAKE_C_COMPILER ${MORVANE_MINGW_TRIPLE}-gcc-posix)
    set(CMAKE_CXX_COMPILER ${MORVANE_MINGW_TRIPLE}-g++-posix)
endif()
set(CMAKE_RC_COMPILER ${MORVANE_MINGW_TRIPLE}-windres)

# Headers, libraries and packages only from the MinGW sysroot and the Qt for
# Windows; programs (moc, uic, rcc, lrelease) from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${MORVANE_MINGW_TRIPLE})
if(MORVANE_QT_MINGW)
    list(APPEND CMAKE_FIND_ROOT_PATH ${MORVANE_QT_MINGW})
    list(APPEND CMAKE_PREFIX_PATH ${MORVANE_QT_MINGW})
    set(Qt5_DIR ${MORVANE_QT_MINGW}/lib/cmake/Qt5 CACHE PATH "Qt 5 for MinGW-w64")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# lrelease runs here: a Qt for Windows brings none that runs on Linux, so the
# translations take it from this machine's Qt 5 (Debian's qttools5-dev).
if(NOT Qt5LinguistTools_DIR AND MORVANE_QT_MINGW
   AND NOT EXISTS ${MORVANE_QT_MINGW}/lib/cmake/Qt5LinguistTools/Qt5LinguistToolsConfig.cmake)
    file(GLOB dirs /usr/lib/*/cmake/Qt5LinguistTools /usr/lib/cmake/Qt5LinguistTools)
    foreach(dir ${dirs})
        if(EXISTS ${dir}/Qt5LinguistToolsConfig.cmake)
            set(Qt5LinguistTools_DIR ${dir} CACHE PATH "This machine's Qt 5 Linguist tools")
            break()
        endif()
    endforeach()
endif()
