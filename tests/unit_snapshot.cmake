# The snapshot: file layout, grab, failed saves, and snapshots taken by the
# real start-up and loop on the headless backend.
add_executable(snapshot_test
  ${CMAKE_CURRENT_LIST_DIR}/unit/snapshot_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/unit/snapshot_loop_test.cpp
)
target_link_libraries(snapshot_test PRIVATE GTest::gtest_main PNG::PNG ZLIB::ZLIB)
twindial_link(snapshot_test twindial_platform_headless)
gtest_discover_tests(snapshot_test DISCOVERY_TIMEOUT 30)

# The native files under the snapshot. It stands in for the C library's
# fsync and rename to record them, so it is an executable of its own.
add_executable(files_test ${CMAKE_CURRENT_LIST_DIR}/unit/files_test.cpp)
target_link_libraries(files_test PRIVATE GTest::gtest_main PNG::PNG ZLIB::ZLIB ${CMAKE_DL_LIBS})
twindial_link(files_test twindial_platform_headless)
gtest_discover_tests(files_test DISCOVERY_TIMEOUT 30)
