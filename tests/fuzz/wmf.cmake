# libFuzzer target for the metafile parser and player (fuzz_wmf), and for the icon reader's
# bitmap decoder through the same entry (fuzz_wmf reads icons when the data starts like one).
# Seeds: tests/fixtures/wmf/*.wmf. The player is compiled again with coverage instrumentation.
if(NOT TARGET pixmoor_wmf_fuzzing)
  file(GLOB pixmoor_wmf_fuzzing_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/imaging/wmf/*.cpp)
  add_library(pixmoor_wmf_fuzzing STATIC ${pixmoor_wmf_fuzzing_sources})
  target_compile_options(pixmoor_wmf_fuzzing PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
  target_link_libraries(pixmoor_wmf_fuzzing PUBLIC Qt6::Gui)
  target_include_directories(pixmoor_wmf_fuzzing PUBLIC ${CMAKE_SOURCE_DIR})
  set_target_properties(pixmoor_wmf_fuzzing PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
endif()

pixmoor_add_fuzzer(fuzz_wmf ${CMAKE_CURRENT_LIST_DIR}/wmf_fuzz.cpp pixmoor_wmf_fuzzing)
set_target_properties(fuzz_wmf PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
