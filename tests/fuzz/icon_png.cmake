# libFuzzer target for the icon reader's PNG entries (fuzz_icon_png): the input is wrapped as the
# PNG entry of an icon and read through Icon::fromData, which decodes it with the codec's PNG
# reader over memory, alpha kept. Seeds: the PNG and icon fixtures.
pixmoor_add_fuzzer(fuzz_icon_png ${CMAKE_CURRENT_LIST_DIR}/icon_png_fuzz.cpp
                   pixmoor_wmf_fuzzing pixmoor_codec_fuzzing Qt6::Gui)
target_sources(fuzz_icon_png PRIVATE ${CMAKE_SOURCE_DIR}/imaging/icon.cpp
               ${CMAKE_SOURCE_DIR}/imaging/png_image.cpp ${CMAKE_SOURCE_DIR}/platform/file_name.cpp)
target_include_directories(fuzz_icon_png PRIVATE ${CMAKE_SOURCE_DIR})
