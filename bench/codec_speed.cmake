# Decode and encode speed of the JPEG, PNG, GIF and TIFF codecs (Google Benchmark), with plain
# libjpeg and libpng loops as in-process peers. The whole-process comparison with djpeg and
# netpbm is bench/codec_peers.sh.
add_executable(codec_speed_bench ${CMAKE_CURRENT_LIST_DIR}/codec_speed_bench.cpp)
target_link_libraries(codec_speed_bench PRIVATE pixmoor_codec benchmark::benchmark)
