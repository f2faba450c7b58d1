# Windows tests: GoogleTest cross-built from Debian's source, one program per
# test file, each run under Wine in a private prefix that one fixture creates
# for the whole ctest run and another removes at its end. Both trees build and
# run them: the i386 tree's names, fixtures and prefix carry "i386.", and its
# prefix runs i386 programs natively or, where the machine cannot, through
# qemu-user (tools/wine-env.sh tells which), where the combined programs at the
# end of this file take the single programs' place.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -Wno-error)
target_compile_options(gtest_main PRIVATE -Wno-error)

set(KL_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(KL_WINE_ENV ${CMAKE_SOURCE_DIR}/tools/wine-env.sh)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(P "")
  set(KL_SETUP_ENV "KL_WINE_I386=0")
else()
  set(P "i386.")
  set(KL_SETUP_ENV "KL_WINE_I386=1")
endif()
set(KL_TEST_ENV "KL_DLL=$<TARGET_FILE:kestrelink>;KL_SOURCE_DIR=${CMAKE_SOURCE_DIR}")

add_test(NAME ${P}wine.setup COMMAND ${KL_WINE_ENV} setup ${KL_WINE_DIR})
set_tests_properties(${P}wine.setup PROPERTIES FIXTURES_SETUP ${P}wine TIMEOUT 180
                     ENVIRONMENT ${KL_SETUP_ENV})
add_test(NAME ${P}wine.cleanup COMMAND ${KL_WINE_ENV} cleanup ${KL_WINE_DIR})
set_tests_properties(${P}wine.cleanup PROPERTIES FIXTURES_CLEANUP ${P}wine)

# Shared test support compiled into every Windows test program.
file(GLOB KL_WIN_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(kl_win_support STATIC ${KL_WIN_SUPPORT})
target_link_libraries(kl_win_support PUBLIC kl_win gtest)
target_include_directories(kl_win_support PUBLIC ${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_SOURCE_DIR}/src)

# Each test file is compiled once, into an object library of its own: its
# program links it, and so do the i386 tree's combined programs (below).
file(GLOB KL_WIN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/test_*.cpp ${CMAKE_SOURCE_DIR}/tests/gui/test_*.cpp)
foreach(src ${KL_WIN_TESTS})
  get_filename_component(name ${src} NAME_WE)
  get_filename_component(dir ${src} DIRECTORY)
  get_filename_component(group ${dir} NAME)
  add_library(${name}_objects OBJECT ${src})
  target_link_libraries(${name}_objects PUBLIC kl_win_support)
  add_executable(${name})
  target_link_libraries(${name} PRIVATE ${name}_objects gtest_main)
  add_dependencies(${name} kestrelink)
  add_test(NAME ${P}${group}.${name}
           COMMAND ${KL_WINE_ENV} run ${KL_WINE_DIR} $<TARGET_FILE:${name}>)
  set_tests_properties(${P}${group}.${name} PROPERTIES FIXTURES_REQUIRED ${P}wine TIMEOUT 300
                       SKIP_RETURN_CODE 77 ENVIRONMENT "${KL_TEST_ENV}")
  # Window tests share one display: the foreground window, the keyboard focus
  # and the clipboard are the display's, so they take turns.
  if(group STREQUAL "gui")
    set_tests_properties(${P}${group}.${name} PROPERTIES RESOURCE_LOCK ${P}display)
  endif()
endforeach()

# Programs that open windows in the states worth looking at and save their
# pictures (make screens); built with the tests, run only by tools/screens.sh.
file(GLOB KL_SCREENS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/screens/screens_*.cpp)
foreach(src ${KL_SCREENS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE kl_win_support)
  add_dependencies(${name} kestrelink)
endforeach()

file(GLOB KL_HOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/host/*.cpp)
add_executable(kl_host ${KL_HOST_SOURCES})
target_link_libraries(kl_host PRIVATE kl_core user32 gdi32 comctl32)
target_include_directories(kl_host PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_options(kl_host PRIVATE -municode)

# The host's own tests drive it against a minimal plugin of their own as well
# as against the real library.
add_library(kl_fake_plugin SHARED ${CMAKE_SOURCE_DIR}/tests/support/fakeplugin/fake_plugin.cpp
            ${CMAKE_SOURCE_DIR}/tests/support/fakeplugin/fake_plugin.def)
set_target_properties(kl_fake_plugin PROPERTIES PREFIX "" OUTPUT_NAME fake_plugin)
target_link_options(kl_fake_plugin PRIVATE -Wl,--enable-stdcall-fixup -Wl,--kill-at)
target_link_libraries(kl_fake_plugin PRIVATE user32)
# The plugin package (make dist) from both trees, installed by the host.
if(NOT P)
  add_test(NAME dist.package
           COMMAND ${CMAKE_SOURCE_DIR}/tests/support/check-dist.sh ${CMAKE_BINARY_DIR}
                   ${CMAKE_BINARY_DIR}/../win32 ${KL_WINE_DIR} ${KL_OBJDUMP})
  set_tests_properties(dist.package PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300
                       SKIP_RETURN_CODE 77)
endif()
if(TEST ${P}win.test_host)
  add_dependencies(test_host kl_host kl_fake_plugin)
  set_property(TEST ${P}win.test_host APPEND PROPERTY ENVIRONMENT
               "KL_HOST=$<TARGET_FILE:kl_host>;KL_FAKE_PLUGIN=$<TARGET_FILE:kl_fake_plugin>")
  # It types Ctrl+Q through the display's one keyboard: it takes its turn
  # with the window tests, so no other window takes the focus meanwhile.
  set_tests_properties(${P}win.test_host PROPERTIES RESOURCE_LOCK ${P}display)
endif()

# Serial tests: socat pty pairs linked as COM ports into the run's prefix
# (tests/support/serial-pairs.sh); the test reads the pairs from KL_SERIAL_PAIRS.
set(KL_SERIAL_PAIRS_SH ${CMAKE_SOURCE_DIR}/tests/support/serial-pairs.sh)
add_test(NAME ${P}serial.setup COMMAND ${KL_SERIAL_PAIRS_SH} start ${KL_WINE_DIR})
set_tests_properties(${P}serial.setup PROPERTIES FIXTURES_SETUP ${P}serial
                     FIXTURES_REQUIRED ${P}wine TIMEOUT 60)
add_test(NAME ${P}serial.cleanup COMMAND ${KL_SERIAL_PAIRS_SH} stop ${KL_WINE_DIR})
set_tests_properties(${P}serial.cleanup PROPERTIES FIXTURES_CLEANUP ${P}serial
                     FIXTURES_REQUIRED ${P}wine)
if(TEST ${P}win.test_serial)
  set_tests_properties(${P}win.test_serial PROPERTIES FIXTURES_REQUIRED "${P}wine;${P}serial")
  set_property(TEST ${P}win.test_serial APPEND PROPERTY ENVIRONMENT
               "KL_SERIAL_PAIRS=${KL_WINE_DIR}-serial/pairs")
endif()
# File sends to lrzsz's receivers, which the serial fixture's helper starts.
if(TEST ${P}win.test_filesend)
  set_tests_properties(${P}win.test_filesend PROPERTIES FIXTURES_REQUIRED "${P}wine;${P}serial")
  set_property(TEST ${P}win.test_filesend APPEND PROPERTY ENVIRONMENT
               "KL_SERIAL_PAIRS=${KL_WINE_DIR}-serial/pairs")
endif()

# Loopback throughput of the TCP backend; `make bench` runs it under Wine.
add_executable(bench_tcp ${CMAKE_SOURCE_DIR}/bench/win/bench_tcp.cpp)
target_link_libraries(bench_tcp PRIVATE kl_win)

# The terminal window's tests once more in a prefix whose screen has 144 DPI:
# each test computes its expected lengths from the DPI the window reports.
set(KL_WINE144_DIR ${CMAKE_BINARY_DIR}/wine144)
add_test(NAME ${P}wine144.setup COMMAND ${KL_WINE_ENV} setup ${KL_WINE144_DIR} 144)
set_tests_properties(${P}wine144.setup PROPERTIES FIXTURES_SETUP ${P}wine144 TIMEOUT 180
                     ENVIRONMENT ${KL_SETUP_ENV})
add_test(NAME ${P}wine144.cleanup COMMAND ${KL_WINE_ENV} cleanup ${KL_WINE144_DIR})
set_tests_properties(${P}wine144.cleanup PROPERTIES FIXTURES_CLEANUP ${P}wine144)
file(GLOB KL_DPI_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/gui/test_termwnd*.cpp)
foreach(src ${KL_DPI_TESTS})
  get_filename_component(name ${src} NAME_WE)
  if(name STREQUAL "test_termwnd_gdi")  # the GDI count does not depend on the DPI
    continue()
  endif()
  add_test(NAME ${P}gui.${name}.dpi144
           COMMAND ${KL_WINE_ENV} run ${KL_WINE144_DIR} $<TARGET_FILE:${name}>)
  set_tests_properties(${P}gui.${name}.dpi144 PROPERTIES FIXTURES_REQUIRED ${P}wine144
                       TIMEOUT 300 SKIP_RETURN_CODE 77 RESOURCE_LOCK ${P}display144
                       ENVIRONMENT "${KL_TEST_ENV};KL_EXPECT_DPI=144")
endforeach()

# Paint time of the output view under Wine; `make bench` runs it.
add_executable(bench_paint ${CMAKE_SOURCE_DIR}/bench/win/bench_paint.cpp)
target_link_libraries(bench_paint PRIVATE kl_win)
# 200 terminal windows opened and closed: slow under Wine, given more time.
if(TEST ${P}gui.test_termwnd_gdi)
  set_tests_properties(${P}gui.test_termwnd_gdi PROPERTIES TIMEOUT 900)
endif()

# Lister terminals on a serial port use the serial fixture's "general" pair,
# which the backend's serial tests use too: they take turns.
if(TEST ${P}gui.test_session_serial)
  set_tests_properties(${P}gui.test_session_serial PROPERTIES FIXTURES_REQUIRED "${P}wine;${P}serial")
  set_property(TEST ${P}gui.test_session_serial APPEND PROPERTY ENVIRONMENT
               "KL_SERIAL_PAIRS=${KL_WINE_DIR}-serial/pairs")
  set_property(TEST ${P}gui.test_session_serial APPEND PROPERTY RESOURCE_LOCK ${P}serialports)
  set_property(TEST ${P}win.test_serial APPEND PROPERTY RESOURCE_LOCK ${P}serialports)
endif()
# A hundred lister terminals opened and closed on a live connection.
if(TEST ${P}gui.test_lister_leaks)
  set_tests_properties(${P}gui.test_lister_leaks PROPERTIES TIMEOUT 900)
endif()
# 256 MiB from a loopback peer into a terminal window; `make bench` runs it.
add_executable(bench_firehose ${CMAKE_SOURCE_DIR}/bench/win/bench_firehose.cpp)
target_link_libraries(bench_firehose PRIVATE kl_win psapi)
# File sends to lrzsz's receivers over a pty pair; `make bench` runs it.
add_executable(bench_filesend ${CMAKE_SOURCE_DIR}/bench/win/bench_filesend.cpp)
target_link_libraries(bench_filesend PRIVATE kl_win_support)

# Where i386 programs only run emulated (tools/wine-env.sh), each start costs
# over a minute, so the single programs above report themselves skipped there.
# In their place every test file that the emulator can run is linked into one
# program per prefix that runs only there; natively the single programs run the
# same tests, so these skip. A new test file joins by itself.
#
# Left out are the files whose tests wait on Wine's asynchronous I/O: sockets
# (loopback peers, the TCP backend, telnet, the stand-in host talking to a
# peer) and overlapped reads on a serial pty. Under qemu-user such a wait does
# not come back: a read the peer has already answered never completes, and
# once it is cancelled the waiting thread carries on under another thread's
# identity (Wine's own trace shows the main thread's calls with the worker's
# thread id) and blocks for good; sockets take the emulator down outright.
if(P)
  set(KL_NEEDS_ASYNC_IO test_execute test_filesend test_host test_lister_leaks test_log test_sendfile
                        test_serial test_session test_session_serial test_tcp)
  # Single tests left out where emulated (they run natively and in the 64-bit
  # tree), each with its reason.
  set(KL_EMULATED_SKIP
      # soak loops of many windows, over a minute each there; the hundred
      # properties dialogs (half a minute) stay as the emulated leak check
      TermGdi.NoObjectsLeftAfterManyWindows
      ConnDlg.NoGdiObjectOrWindowLeaksOverAHundredOpenings
      # starts the stand-in host: one more emulated start, two minutes
      Ports.StandInHostPutsTheDeviceMapBackWhenItGivesUp
      # three threads at once: qemu-user loses them (hangs, or crashes outright
      # with three threads that only sleep)
      CatalogFolder.ConcurrentLookupsWhileTheLanguageChanges)

  # One program linked from the parts' object libraries (parts are ctest
  # names), run in DIR's prefix with the union of the fixtures, locks and
  # environment the parts' own tests carry.
  function(kl_emulated_program test target dir timeout)
    set(objects)
    set(fixtures)
    set(locks)
    set(env ${KL_TEST_ENV})
    foreach(part ${ARGN})
      string(REGEX MATCH "test_[A-Za-z0-9_]+" name ${part})
      list(APPEND objects ${name}_objects)
      foreach(pair fixtures=FIXTURES_REQUIRED locks=RESOURCE_LOCK env=ENVIRONMENT)
        string(REPLACE "=" ";" pair ${pair})
        list(GET pair 0 into)
        list(GET pair 1 prop)
        get_test_property(${part} ${prop} value)
        if(value)
          list(APPEND ${into} ${value})
        endif()
      endforeach()
    endforeach()
    list(REMOVE_DUPLICATES fixtures)
    list(REMOVE_DUPLICATES env)
    add_executable(${target})
    target_link_libraries(${target} PRIVATE ${objects} gtest_main)
    add_dependencies(${target} kestrelink)
    set(filter)
    if(KL_EMULATED_SKIP)
      list(JOIN KL_EMULATED_SKIP ":" skip)
      set(filter "--gtest_filter=-${skip}")
    endif()
    add_test(NAME ${test} COMMAND ${KL_WINE_ENV} run ${dir} $<TARGET_FILE:${target}> ${filter})
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED "${fixtures}" TIMEOUT ${timeout}
                         SKIP_RETURN_CODE 77 COST 10000
                         ENVIRONMENT "${env};KL_EMULATION_OK=1;KL_EMULATED_ONLY=1")
    if(locks)
      list(REMOVE_DUPLICATES locks)
      set_tests_properties(${test} PROPERTIES RESOURCE_LOCK "${locks}")
    endif()
  endfunction()

  set(parts)
  foreach(src ${KL_WIN_TESTS})
    get_filename_component(name ${src} NAME_WE)
    get_filename_component(dir ${src} DIRECTORY)
    get_filename_component(group ${dir} NAME)
    if(NOT name IN_LIST KL_NEEDS_ASYNC_IO)
      list(APPEND parts ${P}${group}.${name})
    endif()
  endforeach()
  kl_emulated_program(i386.emulated emulated_i386 ${KL_WINE_DIR} 900 ${parts})

  set(parts)
  foreach(src ${KL_DPI_TESTS})
    get_filename_component(name ${src} NAME_WE)
    if(TEST ${P}gui.${name}.dpi144 AND NOT name IN_LIST KL_NEEDS_ASYNC_IO)
      list(APPEND parts ${P}gui.${name}.dpi144)
    endif()
  endforeach()
  if(parts)
    kl_emulated_program(i386.emulated.dpi144 emulated_dpi144_i386 ${KL_WINE144_DIR} 600 ${parts})
  endif()
endif()
# How long the terminal window takes to answer while a slow line sends and
# while a port takes seconds to open; `make bench` runs it over a serial pair.
add_executable(bench_responsive ${CMAKE_SOURCE_DIR}/bench/win/bench_responsive.cpp)
target_link_libraries(bench_responsive PRIVATE kl_win)
