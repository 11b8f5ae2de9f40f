# Native build: the portable core and its tests, under AddressSanitizer and UBSan.
set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(brinq_core STATIC ${CORE_SOURCES})
target_include_directories(brinq_core PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(brinq_core PUBLIC -Wall -Wextra -g ${SANITIZE})
target_link_options(brinq_core PUBLIC ${SANITIZE})

find_package(GTest REQUIRED)
include(GoogleTest)
# tests/decoders: pictures coded and decoded by libjpeg-turbo's tools, on this host only.
file(GLOB CORE_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/core/*.cpp
  ${PROJECT_SOURCE_DIR}/tests/decoders/*.cpp)
add_executable(core_tests ${CORE_TESTS})
target_link_libraries(core_tests PRIVATE brinq_core GTest::gtest_main)
target_compile_definitions(core_tests PRIVATE SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  REGRESSION_DIR="${PROJECT_SOURCE_DIR}/tests/regressions")
gtest_discover_tests(core_tests DISCOVERY_MODE PRE_TEST)

# What cleaning in place must leave of a file; the hostile-file campaign checks brinq.exe with it.
add_executable(reduce_file tests/hostile/reduce_file.cpp)
target_link_libraries(reduce_file PRIVATE brinq_core)

# Short fuzz runs keep the filter targets building and alive; long campaigns use scripts/fuzz.sh.
find_program(CLANGXX clang++)
if(CLANGXX)
  foreach(target png jpeg psd emblem)
    add_test(NAME fuzz_${target} COMMAND ${PROJECT_SOURCE_DIR}/scripts/fuzz.sh ${target} 60)
  endforeach()
endif()
