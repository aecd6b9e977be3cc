# libFuzzer target for the metafile parser and player (fuzz_wmf), and for the icon reader's
# bitmap decoder through the same entry (fuzz_wmf reads icons when the data starts like one).
# Seeds: tests/fixtures/wmf/*.wmf.
pixmoor_add_fuzzer(fuzz_wmf ${CMAKE_CURRENT_LIST_DIR}/wmf_fuzz.cpp pixmoor_wmf_fuzzing)
# The metafile reader names its file through the file-name conversion of the platform layer.
target_sources(fuzz_wmf PRIVATE ${CMAKE_SOURCE_DIR}/platform/file_name.cpp)
