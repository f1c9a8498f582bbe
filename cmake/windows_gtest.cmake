# GoogleTest for the Windows cross build, built from the source Debian
# ships (/usr/src/googletest, package googletest), under the names that
# find_package(GTest) gives on Linux.
set(QUARNEX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source tree")
if(NOT EXISTS "${QUARNEX_GTEST_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "No GoogleTest source in ${QUARNEX_GTEST_SOURCE}: apt-get install googletest")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUARNEX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# Its own build names them GTest::gtest and GTest::gtest_main already.
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
