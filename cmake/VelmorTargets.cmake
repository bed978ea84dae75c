# Helpers shared by every subsystem's CMakeLists.

option(VELMOR_WERROR "Treat compiler warnings as errors" OFF)

# Warnings and language settings for the project's own targets.
function(velmor_target_defaults target)
  target_compile_features(${target} PUBLIC cxx_std_17)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(VELMOR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_compile_definitions(${target} PUBLIC
    WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
endfunction()

# A GoogleTest program. On the 64-bit side every case is its own CTest test
# (listed when CTest runs); 32-bit programs start slowly where 32-bit Wine is
# emulated, so there a whole program is one CTest test.
# velmor_add_test(NAME SOURCES... [LIBS libs...] [LOCK resource])
function(velmor_add_test name)
  cmake_parse_arguments(T "" "LOCK" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  velmor_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} velmor_test_support gmock_main)
  set(props "")
  if(T_LOCK)
    set(props RESOURCE_LOCK ${T_LOCK})
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
      PROPERTIES TIMEOUT 300 ${props})
  else()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 900 ${props})
  endif()
endfunction()
