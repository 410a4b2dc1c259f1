add_executable(bench_image ${CMAKE_CURRENT_LIST_DIR}/bench_image.cpp)
target_include_directories(bench_image PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_image PRIVATE nuvarin_disks)
add_dependencies(bench bench_image)
