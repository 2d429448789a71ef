# Faults met on a long run: quit signals end the loop through the exit
# steps; many snapshots and shakes do not grow the heap.
add_executable(faults_test
  ${CMAKE_CURRENT_LIST_DIR}/unit/quit_signal_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/unit/heap_test.cpp
)
target_link_libraries(faults_test PRIVATE GTest::gtest_main)
twindial_link(faults_test twindial_platform_headless)
gtest_discover_tests(faults_test DISCOVERY_TIMEOUT 30)
