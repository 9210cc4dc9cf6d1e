# Cross-compiles for Windows with mingw-w64. QX_MINGW_TRIPLE picks the architecture:
# x86_64-w64-mingw32 (tests run under Wine) or i686-w64-mingw32 (no 32-bit Wine
# here, so nothing is run).
if(NOT QX_MINGW_TRIPLE)
  message(FATAL_ERROR "Set QX_MINGW_TRIPLE (the presets do): x86_64-w64-mingw32 or i686-w64-mingw32")
endif()
# The compiler checks configure projects of their own, which need it too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QX_MINGW_TRIPLE)

set(CMAKE_SYSTEM_NAME Windows)
if(QX_MINGW_TRIPLE MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
  # ctest runs the programs with the Wine loader that the scripts use.
  file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../scripts/common.sh qx_wine REGEX "^QX_WINE=")
  string(REGEX REPLACE "^QX_WINE=" "" qx_wine "${qx_wine}")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${qx_wine})
else()
  set(CMAKE_SYSTEM_PROCESSOR X86)
endif()
# The posix thread model has std::mutex (GoogleTest needs it); -static links its
# winpthread in, so the DLL still imports system DLLs only.
set(CMAKE_C_COMPILER ${QX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
