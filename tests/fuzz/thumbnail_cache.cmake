# libFuzzer target for the shared thumbnail cache's reading of entries other programs wrote
# (fuzz_thumb_cache): any bytes in an entry's place are judged (PNG, size, URI, MTime, Size keys)
# without a fault. Seeds: valid entries the fuzzer writes itself on its first run.
pixmoor_add_fuzzer(fuzz_thumb_cache ${CMAKE_CURRENT_LIST_DIR}/thumbnail_cache_fuzz.cpp
                   pixmoor_codec_fuzzing Qt6::Gui)
target_sources(fuzz_thumb_cache PRIVATE ${CMAKE_SOURCE_DIR}/catalogue/thumbnail_cache.cpp
               ${CMAKE_SOURCE_DIR}/platform/file_name.cpp
               ${CMAKE_SOURCE_DIR}/platform/cache_home.cpp)
target_include_directories(fuzz_thumb_cache PRIVATE ${CMAKE_SOURCE_DIR})
