# The image component's load paths against Qt's own image readers on the same files.
add_executable(bench_component ${CMAKE_CURRENT_SOURCE_DIR}/component_bench.cpp)
target_link_libraries(bench_component PRIVATE pixmoor_imaging benchmark::benchmark Qt6::Widgets)
