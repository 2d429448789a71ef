# Checks the committed built-in files in assets/files/ themselves.
add_executable(builtin_files_test unit/builtin_files_test.cpp)
target_link_libraries(builtin_files_test PRIVATE GTest::gtest_main PNG::PNG)
target_include_directories(builtin_files_test PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(builtin_files_test PRIVATE TWINDIAL_ASSET_DIR="${PROJECT_SOURCE_DIR}/assets/files")
gtest_discover_tests(builtin_files_test DISCOVERY_TIMEOUT 30)
