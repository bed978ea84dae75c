# Shared part of the two MinGW-w64 toolchains. Expects VELMOR_TRIPLE.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${VELMOR_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMOR_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${VELMOR_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELMOR_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine, in the project's prefix.
get_filename_component(_velmor_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_velmor_root}/scripts/wine")

# No MinGW runtime DLLs at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
