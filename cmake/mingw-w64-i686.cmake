# Cross-builds for 32-bit Windows on x86 with the mingw-w64 i686 compilers.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KEYREPORT_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
