# bench_ntfssearch [IMAGE]: the NTFS record search fed by a sweep over an image
# (by default a built 256 MiB area holding an MFT of 200,000 file records in folders).
add_executable(bench_ntfssearch ${CMAKE_CURRENT_LIST_DIR}/bench_ntfssearch.cpp)
target_include_directories(bench_ntfssearch PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_ntfssearch PRIVATE nuvarin_ntfs)
add_dependencies(bench bench_ntfssearch)
