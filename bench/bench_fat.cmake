# bench_fat [IMAGE]: the fast FAT scan on a FAT32 volume of 50,000 files.
add_executable(bench_fat ${CMAKE_CURRENT_LIST_DIR}/bench_fat.cpp)
target_include_directories(bench_fat PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_fat PRIVATE nuvarin_fat_fast)
add_dependencies(bench bench_fat)
