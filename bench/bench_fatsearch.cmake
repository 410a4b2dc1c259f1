# bench_fatsearch [IMAGE]: the FAT directory search fed by a sweep over an image
# (by default a built 256 MiB area holding 4,096 old directories with 98,304 files).
add_executable(bench_fatsearch ${CMAKE_CURRENT_LIST_DIR}/bench_fatsearch.cpp)
target_include_directories(bench_fatsearch PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_fatsearch PRIVATE nuvarin_fat_fast)
add_dependencies(bench bench_fatsearch)
