# libFuzzer targets for the thumbnail road of the catalogue: fuzz_thumb_jpeg (DC-only progressive
# decoding and the scaled libjpeg stream), fuzz_thumb_png (whole-buffer inflate and the libpng
# stream), fuzz_thumbnail (every format by signature into the area downscaler). Seeds: the
# format's fixtures; every codec fixture for fuzz_thumbnail.
foreach(entry thumb_jpeg thumb_png thumbnail)
  pixmoor_add_fuzzer(fuzz_${entry} ${CMAKE_CURRENT_LIST_DIR}/thumbnail_fuzz.cpp
                     pixmoor_codec_fuzzing Qt6::Gui)
  target_sources(fuzz_${entry} PRIVATE ${CMAKE_SOURCE_DIR}/catalogue/downscale.cpp)
  string(TOUPPER ${entry} upper)
  target_compile_definitions(fuzz_${entry} PRIVATE PIXMOOR_FUZZ_${upper})
endforeach()
