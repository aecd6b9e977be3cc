# libFuzzer targets for the codec library's own BMP and PCX readers and for the information call:
# fuzz_bmp, fuzz_pcx, fuzz_info. Seeds: tests/fixtures/codec/core/ (and, for fuzz_info, every
# codec fixture). The codec is compiled again with coverage instrumentation so that libFuzzer can
# see inside it (the same library as the other codec fuzzers).
if(NOT TARGET pixmoor_codec_fuzzing)
  file(GLOB pixmoor_codec_fuzzing_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/imaging/codec/*.cpp)
  add_library(pixmoor_codec_fuzzing STATIC ${pixmoor_codec_fuzzing_sources})
  target_compile_options(pixmoor_codec_fuzzing PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
  target_link_libraries(pixmoor_codec_fuzzing PUBLIC JPEG::JPEG PNG::PNG TIFF::TIFF GIF::GIF)
  target_include_directories(pixmoor_codec_fuzzing PUBLIC ${CMAKE_SOURCE_DIR})
  set_target_properties(pixmoor_codec_fuzzing PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
endif()

foreach(fuzzer fuzz_bmp fuzz_pcx fuzz_info)
  pixmoor_add_fuzzer(${fuzzer} ${CMAKE_CURRENT_LIST_DIR}/${fuzzer}.cpp pixmoor_codec_fuzzing)
  set_target_properties(${fuzzer} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
endforeach()
