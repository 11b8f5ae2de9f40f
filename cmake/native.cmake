# Native build: the portable core and its tests, under AddressSanitizer and UBSan.
set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(brinq_core STATIC ${CORE_SOURCES})
target_include_directories(brinq_core PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(brinq_core PUBLIC -Wall -Wextra -g ${SANITIZE})
target_link_options(brinq_core PUBLIC ${SANITIZE})

find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB CORE_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/core/*.cpp)
add_executable(core_tests ${CORE_TESTS})
target_link_libraries(core_tests PRIVATE brinq_core GTest::gtest_main)
target_compile_definitions(core_tests PRIVATE SOURCE_DIR="${PROJECT_SOURCE_DIR}")
gtest_discover_tests(core_tests DISCOVERY_MODE PRE_TEST)
