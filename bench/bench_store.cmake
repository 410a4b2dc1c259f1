add_executable(bench_store ${CMAKE_CURRENT_LIST_DIR}/bench_store.cpp)
target_include_directories(bench_store PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_store PRIVATE nuvarin_storage)
add_dependencies(bench bench_store)
