# libFuzzer target for the shared thumbnail cache's reading of entries other programs wrote
# (fuzz_thumb_cache): any bytes in an entry's place are judged (the text chunk walk for the URI,
# MTime and Size keys, then the codec's PNG reader over memory) without a fault, and the text
# reader alone runs on the input with tight limits. Seeds: valid entries the fuzzer writes itself
# on its first run (keys in tEXt, zTXt and iTXt chunks).
pixmoor_add_fuzzer(fuzz_thumb_cache ${CMAKE_CURRENT_LIST_DIR}/thumbnail_cache_fuzz.cpp
                   pixmoor_codec_fuzzing Qt6::Gui)
target_sources(fuzz_thumb_cache PRIVATE ${CMAKE_SOURCE_DIR}/catalogue/thumbnail_cache.cpp
               ${CMAKE_SOURCE_DIR}/imaging/png_image.cpp
               ${CMAKE_SOURCE_DIR}/platform/file_name.cpp
               ${CMAKE_SOURCE_DIR}/platform/cache_home.cpp)
target_include_directories(fuzz_thumb_cache PRIVATE ${CMAKE_SOURCE_DIR})
