# What the Windows cross build holds (cmake/mingw-w64-x86_64.cmake): the
# layers below the window, the simulated adapter, the Win32 device backend
# (win32/) and quarnex-run with the registry store. The window, the Linux
# TTY backend, the fuzz targets and the benchmarks stay Linux-only, and so
# do the runner's Prometheus endpoint and SQLite history (their packages
# are Linux ones).

# Windows 7 and later; <windows.h> without its rarely used parts and
# without the min and max macros.
add_compile_definitions(_WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)

# Under an emulator every process costs a Wine start-up, so each test binary
# is one CTest test that runs all its cases, in place of a test per case.
# CTest starts it through CMAKE_CROSSCOMPILING_EMULATOR.
function(gtest_discover_tests target)
  cmake_parse_arguments(D "" "WORKING_DIRECTORY;DISCOVERY_TIMEOUT" "PROPERTIES" ${ARGN})
  add_test(NAME ${target} COMMAND ${target} WORKING_DIRECTORY ${D_WORKING_DIRECTORY})
  if(D_PROPERTIES)
    set_tests_properties(${target} PROPERTIES ${D_PROPERTIES})
  endif()
endfunction()

add_subdirectory(testapp/platform)
add_subdirectory(testapp/driver)
add_subdirectory(testapp/pattern)
add_subdirectory(adapter)
add_subdirectory(win32)
add_subdirectory(testapp/wiring)
add_subdirectory(testapp/settings)
add_subdirectory(testapp/report)
add_subdirectory(testapp/engine)
add_subdirectory(testapp/station)
add_subdirectory(testapp/runner)

foreach(folder testapp/platform testapp/driver testapp/pattern adapter win32 testapp/wiring
               testapp/settings testapp/report testapp/engine testapp/station testapp/runner)
  quarnex_use_folder_roots(${folder})
endforeach()

# The simulated adapter's line clock asks for the 1 ms timer tick.
target_link_libraries(quarnex_adapter PUBLIC winmm)

