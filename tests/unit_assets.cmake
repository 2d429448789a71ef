# Tests of the Embedded resource table, the decoders, masking and drawing.
add_executable(assets_test
  unit/resources_test.cpp
  unit/decoders_test.cpp
  unit/image_test.cpp
  unit/allocation_probe.cpp
)
target_link_libraries(assets_test PRIVATE GTest::gtest_main)
twindial_link(assets_test twindial_platform_headless)
gtest_discover_tests(assets_test DISCOVERY_TIMEOUT 30)
