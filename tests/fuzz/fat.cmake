# FAT volumes, the sector recognisers and the deep FAT engine (included by
# CMakeLists.txt).
#
#   cmake --build --preset fuzz --target fuzz_fat_volume fuzz_fat_records fuzz_fat_corpus
#   build/fuzz/tests/fuzz/fuzz_fat_volume -max_len=1048576 -timeout=10 build/fuzz/tests/fuzz/fat_volume_corpus
#   build/fuzz/tests/fuzz/fuzz_fat_records -max_len=16384 build/fuzz/tests/fuzz/fat_records_corpus
tessaroo_add_fuzzer(fuzz_fat_volume SOURCES FatVolumeFuzz.cpp LIBS tessaroo_factory tessaroo_fat tessaroo_fuzz_volume)
tessaroo_add_fuzzer(fuzz_fat_records SOURCES FatRecordsFuzz.cpp LIBS tessaroo_factory tessaroo_fat)

# Seeds: the test volumes and the sample card cut after their last used
# sector, small volumes of other sector sizes, and their record sectors.
set(FAT_VOLUME_CORPUS ${CMAKE_CURRENT_BINARY_DIR}/fat_volume_corpus)
set(FAT_RECORDS_CORPUS ${CMAKE_CURRENT_BINARY_DIR}/fat_records_corpus)
add_custom_target(fuzz_fat_corpus
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_fat_corpus.sh ${FAT_VOLUME_CORPUS} ${FAT_RECORDS_CORPUS}
  COMMENT "Making the FAT fuzz seeds")

# Every seed (and whatever a fuzzing run added to the corpus) replayed once.
add_test(NAME fuzz.fat.seeds
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_fat_corpus.sh ${FAT_VOLUME_CORPUS} ${FAT_RECORDS_CORPUS})
add_test(NAME fuzz.fat.volume.replay COMMAND fuzz_fat_volume -runs=0 -max_len=1048576 ${FAT_VOLUME_CORPUS})
add_test(NAME fuzz.fat.records.replay COMMAND fuzz_fat_records -runs=0 ${FAT_RECORDS_CORPUS})
set_tests_properties(fuzz.fat.seeds PROPERTIES FIXTURES_SETUP fat_corpus LABELS "fat;fuzz")
set_tests_properties(fuzz.fat.volume.replay fuzz.fat.records.replay
  PROPERTIES FIXTURES_REQUIRED fat_corpus LABELS "fat;fuzz")

# The deep FAT engine over hostile folder sectors offered in hostile order.
#
#   cmake --build --preset fuzz --target fuzz_deep_fat fuzz_deep_fat_corpus
#   build/fuzz/tests/fuzz/fuzz_deep_fat -max_len=65536 -timeout=10 build/fuzz/tests/fuzz/deep_fat_corpus
tessaroo_add_fuzzer(fuzz_deep_fat SOURCES DeepFatFuzz.cpp LIBS tessaroo_fat tessaroo_fuzz_volume)
set(DEEP_FAT_CORPUS ${CMAKE_CURRENT_BINARY_DIR}/deep_fat_corpus)
add_custom_target(fuzz_deep_fat_corpus
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_deep_fat_corpus.sh ${DEEP_FAT_CORPUS}
  COMMENT "Making the deep FAT fuzz seeds")
add_test(NAME fuzz.deepfat.seeds COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_deep_fat_corpus.sh ${DEEP_FAT_CORPUS})
add_test(NAME fuzz.deepfat.replay COMMAND fuzz_deep_fat -runs=0 -max_len=65536 ${DEEP_FAT_CORPUS})
set_tests_properties(fuzz.deepfat.seeds PROPERTIES FIXTURES_SETUP deep_fat_corpus LABELS "fat;fuzz")
set_tests_properties(fuzz.deepfat.replay PROPERTIES FIXTURES_REQUIRED deep_fat_corpus LABELS "fat;fuzz")
