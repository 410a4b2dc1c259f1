# bench_ntfs [IMAGE]: the deleted-file scan on an NTFS volume of 120,000 files
# (60,000 deleted), beside "fls -rd" on the same image.
add_executable(bench_ntfs ${CMAKE_CURRENT_LIST_DIR}/bench_ntfs.cpp)
target_include_directories(bench_ntfs PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_ntfs PRIVATE nuvarin_ntfs)
target_compile_definitions(bench_ntfs PRIVATE
  NUVARIN_NTFS_BENCH_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/make_ntfs_bench_image.sh")
add_dependencies(bench bench_ntfs)
