# libFuzzer targets for the codec library's own BMP and PCX readers and for the information call:
# fuzz_bmp, fuzz_pcx, fuzz_info. Seeds: tests/fixtures/codec/core/ (its large-*.bmp, over 4 KB,
# reach the BMP reader's road that streams rows from the file) and, for fuzz_info, every codec
# fixture.
foreach(fuzzer fuzz_bmp fuzz_pcx fuzz_info)
  pixmoor_add_fuzzer(${fuzzer} ${CMAKE_CURRENT_LIST_DIR}/${fuzzer}.cpp pixmoor_codec_fuzzing)
endforeach()
