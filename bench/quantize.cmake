# Colour reduction speed (Google Benchmark): convertDepth at 8 and 4 bits, with and without error
# diffusion, and BMP/PCX decoding in process. Quality and time against ImageMagick are measured by
# bench/quantize_vs_imagemagick.sh.
add_executable(quantize_bench ${CMAKE_CURRENT_LIST_DIR}/quantize_bench.cpp)
target_link_libraries(quantize_bench PRIVATE pixmoor_codec benchmark::benchmark)
