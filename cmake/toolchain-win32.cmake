# 32-bit Windows (the control panel side).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELMOR_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
