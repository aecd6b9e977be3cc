# libFuzzer targets for the JPEG, PNG, GIF and TIFF readers and their information calls:
# fuzz_jpeg, fuzz_png, fuzz_gif, fuzz_tiff. Seeds: tests/fixtures/codec/formats/<format>/.
foreach(format jpeg png gif tiff)
  pixmoor_add_fuzzer(fuzz_${format} ${CMAKE_CURRENT_LIST_DIR}/codec_formats_fuzz.cpp
                     pixmoor_codec_fuzzing)
  string(TOUPPER ${format} upper)
  target_compile_definitions(fuzz_${format} PRIVATE PIXMOOR_FUZZ_${upper})
endforeach()
