# bench_carve IMAGE [--to DIR]: sweeps a raw image with the signature carver.
add_executable(bench_carve ${CMAKE_CURRENT_LIST_DIR}/bench_carve.cpp)
target_include_directories(bench_carve PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_carve PRIVATE nuvarin_signature)
add_dependencies(bench bench_carve)
