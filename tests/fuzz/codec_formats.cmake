# libFuzzer targets for the JPEG, PNG, GIF and TIFF readers and their information calls:
# fuzz_jpeg, fuzz_png, fuzz_gif, fuzz_tiff. Seeds: tests/fixtures/codec/formats/<format>/.
# The codec is compiled again with coverage instrumentation so that libFuzzer can see inside it.
if(NOT TARGET pixmoor_codec_fuzzing)
  file(GLOB pixmoor_codec_fuzzing_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/imaging/codec/*.cpp)
  add_library(pixmoor_codec_fuzzing STATIC ${pixmoor_codec_fuzzing_sources})
  target_compile_options(pixmoor_codec_fuzzing PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
  target_link_libraries(pixmoor_codec_fuzzing PUBLIC JPEG::JPEG PNG::PNG TIFF::TIFF GIF::GIF)
  target_include_directories(pixmoor_codec_fuzzing PUBLIC ${CMAKE_SOURCE_DIR})
  set_target_properties(pixmoor_codec_fuzzing PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
endif()

foreach(format jpeg png gif tiff)
  pixmoor_add_fuzzer(fuzz_${format} ${CMAKE_CURRENT_LIST_DIR}/codec_formats_fuzz.cpp
                     pixmoor_codec_fuzzing)
  string(TOUPPER ${format} upper)
  target_compile_definitions(fuzz_${format} PRIVATE PIXMOOR_FUZZ_${upper})
  set_target_properties(fuzz_${format} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
endforeach()
