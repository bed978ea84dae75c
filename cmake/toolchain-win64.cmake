# 64-bit Windows (the ASIO driver side).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELMOR_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
