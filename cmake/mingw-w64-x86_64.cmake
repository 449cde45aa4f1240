# Cross-builds for 64-bit Windows on x86-64 with the mingw-w64 x86_64 compilers.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KEYREPORT_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
