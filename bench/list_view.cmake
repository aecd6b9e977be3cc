# The catalogue's list view: appending and sorting 10 000 items against Qt's standard model
# behind a locale-aware sorting proxy.
add_executable(bench_list_view ${CMAKE_CURRENT_SOURCE_DIR}/list_view_bench.cpp)
target_link_libraries(bench_list_view PRIVATE pixmoor_catalogue benchmark::benchmark Qt6::Widgets)
