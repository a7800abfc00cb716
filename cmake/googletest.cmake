# GoogleTest comes from Debian's packages. The Linux build uses the installed
# libraries; a cross build compiles the packaged sources for its target.
if(CMAKE_CROSSCOMPILING)
  set(gtest_src /usr/src/googletest/googletest)
  if(NOT EXISTS ${gtest_src}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${gtest_src}: "
                        "install Debian's googletest package")
  endif()
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${gtest_src} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The packaged sources are not ours: do not hold them to our warning flags.
  foreach(target gtest gtest_main)
    target_compile_options(${target} PRIVATE -Wno-error)
  endforeach()
  add_library(GTest::gtest_main ALIAS gtest_main)
  add_library(GTest::gtest ALIAS gtest)
else()
  find_package(GTest REQUIRED)
endif()
