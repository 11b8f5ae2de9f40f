# Windows build: brinq.exe (GUI subsystem, static) and its tests, run through Wine.
# shell32 is bound at the window's first call into it, bcrypt at the first record sealed or read,
# winmm at the first pause between files, not loaded at every start: under Wine their loads are
# a good part of a command-line run's start, and most runs neither drop nor replace anything.
# Bound late, they load from System32 alone (the entry sets the search so before anything
# loads); the import table keeps only libraries that Windows loads from there whatever the folder.
# dlltool names the library's symbols, which the linker copies into brinq.exe, after the output
# path it is given: a bare file name keeps the build's folder out of the program.
find_program(DLLTOOL x86_64-w64-mingw32-dlltool REQUIRED)
set(DELAYED_LIBS)
foreach(dll shell32 bcrypt winmm)
  set(delayed ${CMAKE_BINARY_DIR}/lib${dll}_delayed.a)
  add_custom_command(OUTPUT ${delayed}
    COMMAND ${DLLTOOL} --input-def ${PROJECT_SOURCE_DIR}/res/${dll}.def --output-delaylib lib${dll}_delayed.a
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS ${PROJECT_SOURCE_DIR}/res/${dll}.def VERBATIM)
  list(APPEND DELAYED_LIBS ${delayed})
endforeach()
add_custom_target(delayed_libs DEPENDS ${DELAYED_LIBS})
set(WIN_LIBS gdi32 user32 ${DELAYED_LIBS} advapi32 kernel32 ntdll)
set(WARNINGS -Wall -Wextra)
# One commit gives one brinq.exe, whatever folder it is built in and when: no source path (a
# __FILE__ in an assertion) and no link time in the PE header.
set(NO_BUILD_PATHS $<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>)

file(GLOB WIN_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/app/*.cpp
  ${PROJECT_SOURCE_DIR}/clean/*.cpp
  ${PROJECT_SOURCE_DIR}/replace/*.cpp
  ${PROJECT_SOURCE_DIR}/batch/*.cpp
  ${PROJECT_SOURCE_DIR}/ui/*.cpp
  ${PROJECT_SOURCE_DIR}/emblem/*.cpp)
list(REMOVE_ITEM WIN_SOURCES ${PROJECT_SOURCE_DIR}/app/win_main.cpp)

# Everything but the entry, so that the tests can drive the same code.
add_library(brinq_win STATIC ${WIN_SOURCES})
target_include_directories(brinq_win PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(brinq_win PUBLIC ${WARNINGS} PRIVATE ${NO_BUILD_PATHS})
target_link_libraries(brinq_win PUBLIC ${WIN_LIBS})
target_link_options(brinq_win PUBLIC -static)
add_dependencies(brinq_win delayed_libs)

file(GLOB RESOURCE_SCRIPTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/*.rc)
# The Emblem store goes first on the link line: its record and marker then open .rdata.
set(EMBLEM_STORE ${PROJECT_SOURCE_DIR}/res/emblem_store.cpp)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
# Fails the build, removing the .exe, when the Emblem marker is not where the lookup searches.
function(check_emblem_store target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/check_emblem_store.py $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

add_executable(brinq WIN32 ${EMBLEM_STORE} app/win_main.cpp ${RESOURCE_SCRIPTS})
target_link_libraries(brinq PRIVATE brinq_win)
target_compile_options(brinq PRIVATE ${NO_BUILD_PATHS})
target_link_options(brinq PRIVATE -municode -Wl,--no-insert-timestamp)  # -municode: the wide entry and argument vector
set_target_properties(brinq PROPERTIES OUTPUT_NAME brinq)
check_emblem_store(brinq)

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

file(GLOB WIN_TESTS CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/tests/core/*.cpp
  ${PROJECT_SOURCE_DIR}/tests/win/*.cpp)
# The tests carry the program's resources and Emblem store too, so that they can draw every screen.
add_executable(win_tests ${EMBLEM_STORE} ${WIN_TESTS} ${RESOURCE_SCRIPTS})
target_link_libraries(win_tests PRIVATE brinq_win gtest_main version)
target_compile_definitions(win_tests PRIVATE BRINQ_EXE="$<TARGET_FILE:brinq>"
  SOURCE_DIR="${PROJECT_SOURCE_DIR}" SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screens"
  REGRESSION_DIR="${PROJECT_SOURCE_DIR}/tests/regressions")
check_emblem_store(win_tests)
add_dependencies(win_tests brinq)
# Wine in the prefix and locale of the code page that BRINQ_CODE_PAGE names, 1252 by default.
set_target_properties(win_tests PROPERTIES CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-test.sh)
# Tests that show windows or start brinq.exe share one display and one pointer: one at a time.
set(DISPLAY_TESTS "Buttons.*:Canvas.*:Screen.*:Window.*:WindowMode.*:RealWindow.*:CommandLine.*")
gtest_discover_tests(win_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_FILTER "-${DISPLAY_TESTS}")
gtest_discover_tests(win_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_FILTER "${DISPLAY_TESTS}"
                     PROPERTIES RESOURCE_LOCK display)
# The names in every script once more under the ANSI code pages 932 (Shift-JIS) and 65001
# (UTF-8), each run in a Wine prefix of its own: cp932.*, cp65001.*.
foreach(code_page 932 65001)
  gtest_discover_tests(win_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_FILTER "CodePage.*:*Script*"
                       TEST_PREFIX "cp${code_page}." PROPERTIES RESOURCE_LOCK display ENVIRONMENT BRINQ_CODE_PAGE=${code_page})
endforeach()

# brinq.exe itself under Wine, against hostile files and faults of the file system around it.
# The expected results come from the portable core, built natively beside this build.
set(NATIVE_BUILD ${PROJECT_SOURCE_DIR}/build/native CACHE PATH "native build that holds reduce_file")
add_test(NAME hostile_files COMMAND python3 ${PROJECT_SOURCE_DIR}/scripts/hostile.py --exe $<TARGET_FILE:brinq>
  --reduce ${NATIVE_BUILD}/reduce_file --work ${CMAKE_BINARY_DIR}/hostile)
add_test(NAME file_system_faults COMMAND bash ${PROJECT_SOURCE_DIR}/tests/fault/faults.sh $<TARGET_FILE:brinq>
  ${NATIVE_BUILD}/reduce_file ${CMAKE_BINARY_DIR}/faults)
add_test(NAME concurrent_processes COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/fault/concurrent.py
  --exe $<TARGET_FILE:brinq> --reduce ${NATIVE_BUILD}/reduce_file --work ${CMAKE_BINARY_DIR}/concurrent)
add_test(NAME killed_processes COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/fault/killed.py --exe $<TARGET_FILE:brinq>
  --reduce ${NATIVE_BUILD}/reduce_file --work ${CMAKE_BINARY_DIR}/killed)

# No library planted beside brinq.exe runs inside it, in a command-line run or in the window.
add_test(NAME planted_libraries COMMAND bash ${PROJECT_SOURCE_DIR}/tests/release/planted_dlls.sh $<TARGET_FILE:brinq>
  ${CMAKE_BINARY_DIR}/planted)
set_tests_properties(planted_libraries PROPERTIES RESOURCE_LOCK display)

# Only known libraries bound at start, and every file opened by its UTF-16 name: no file
# function of the code page in brinq.exe's imports.
add_test(NAME wide_file_calls_only COMMAND bash ${PROJECT_SOURCE_DIR}/tests/release/imports.sh $<TARGET_FILE:brinq>)

# The release: one commit gives one zip and one brinq.exe, built in any folder, and the README's
# own build gives that brinq.exe too.
add_test(NAME reproducible_release COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/release/reproducible.py
  --repo ${PROJECT_SOURCE_DIR} --work ${CMAKE_BINARY_DIR}/reproducible)
