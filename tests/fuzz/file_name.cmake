# libFuzzer target for the lossless file-name conversion (fuzz_file_name): any bytes decode, and
# encode back to exactly themselves.
pixmoor_add_fuzzer(fuzz_file_name ${CMAKE_CURRENT_LIST_DIR}/file_name_fuzz.cpp Qt6::Core)
target_sources(fuzz_file_name PRIVATE ${CMAKE_SOURCE_DIR}/platform/file_name.cpp)
target_include_directories(fuzz_file_name PRIVATE ${CMAKE_SOURCE_DIR})
