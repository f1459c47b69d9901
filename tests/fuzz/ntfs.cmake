# NTFS volumes and MFT records (included by CMakeLists.txt).
#
#   cmake --build --preset fuzz --target fuzz_ntfs_volume fuzz_ntfs_records fuzz_ntfs_corpus
#   build/fuzz/tests/fuzz/fuzz_ntfs_volume -max_len=1048576 -timeout=10 build/fuzz/tests/fuzz/ntfs_volume_corpus
#   build/fuzz/tests/fuzz/fuzz_ntfs_records -max_len=4101 build/fuzz/tests/fuzz/ntfs_records_corpus
tessaroo_add_fuzzer(fuzz_ntfs_volume SOURCES NtfsVolumeFuzz.cpp LIBS tessaroo_factory tessaroo_ntfs tessaroo_fuzz_volume)
tessaroo_add_fuzzer(fuzz_ntfs_records SOURCES NtfsRecordsFuzz.cpp LIBS tessaroo_ntfs)

# Seeds: the volumes of tools/make_ntfs_images.sh cut after their MFT,
# volumes built record by record for what formatters never write, and the
# records of all of them.
set(NTFS_VOLUME_CORPUS ${CMAKE_CURRENT_BINARY_DIR}/ntfs_volume_corpus)
set(NTFS_RECORDS_CORPUS ${CMAKE_CURRENT_BINARY_DIR}/ntfs_records_corpus)
add_custom_target(fuzz_ntfs_corpus
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_ntfs_corpus.sh ${NTFS_VOLUME_CORPUS} ${NTFS_RECORDS_CORPUS}
  COMMENT "Making the NTFS fuzz seeds")

# Every seed (and whatever a fuzzing run added to the corpus) replayed once.
add_test(NAME fuzz.ntfs.seeds
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_ntfs_corpus.sh ${NTFS_VOLUME_CORPUS} ${NTFS_RECORDS_CORPUS})
add_test(NAME fuzz.ntfs.volume.replay COMMAND fuzz_ntfs_volume -runs=0 -max_len=1048576 ${NTFS_VOLUME_CORPUS})
add_test(NAME fuzz.ntfs.records.replay COMMAND fuzz_ntfs_records -runs=0 ${NTFS_RECORDS_CORPUS})
set_tests_properties(fuzz.ntfs.seeds PROPERTIES FIXTURES_SETUP ntfs_corpus LABELS "ntfs;fuzz")
set_tests_properties(fuzz.ntfs.volume.replay fuzz.ntfs.records.replay
  PROPERTIES FIXTURES_REQUIRED ntfs_corpus LABELS "ntfs;fuzz")
