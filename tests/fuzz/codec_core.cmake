# libFuzzer targets for the codec library's own BMP and PCX readers and for the information call:
# fuzz_bmp, fuzz_pcx, fuzz_info. Seeds: tests/fixtures/codec/core/ (and, for fuzz_info, every
# codec fixture).
foreach(fuzzer fuzz_bmp fuzz_pcx fuzz_info)
  pixmoor_add_fuzzer(${fuzzer} ${CMAKE_CURRENT_LIST_DIR}/${fuzzer}.cpp pixmoor_codec_fuzzing)
endforeach()
