# Grab + encode + write of one snapshot. Run with repetitions for a median:
#   snapshot_bench --benchmark_repetitions=20 --benchmark_report_aggregates_only=true
add_executable(snapshot_bench ${CMAKE_CURRENT_LIST_DIR}/snapshot_bench.cpp)
target_link_libraries(snapshot_bench PRIVATE benchmark::benchmark_main PNG::PNG)
twindial_link(snapshot_bench twindial_platform_headless)
