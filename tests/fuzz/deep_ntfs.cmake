# The deep NTFS engine on file records offered in hostile order (included
# by CMakeLists.txt).
#
#   cmake --build --preset fuzz --target fuzz_deep_ntfs_records fuzz_deep_ntfs_corpus
#   build/fuzz/tests/fuzz/fuzz_deep_ntfs_records -max_len=1048582 -timeout=10 build/fuzz/tests/fuzz/deep_ntfs_corpus
tessaroo_add_fuzzer(fuzz_deep_ntfs_records SOURCES DeepNtfsRecordsFuzz.cpp LIBS tessaroo_ntfs tessaroo_fuzz_volume)

set(DEEP_NTFS_CORPUS ${CMAKE_CURRENT_BINARY_DIR}/deep_ntfs_corpus)
add_custom_target(fuzz_deep_ntfs_corpus
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_deep_ntfs_corpus.sh ${DEEP_NTFS_CORPUS}
  COMMENT "Making the deep NTFS fuzz seeds")

# Every seed (and whatever a fuzzing run added to the corpus) replayed once.
add_test(NAME fuzz.deep_ntfs.seeds COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_deep_ntfs_corpus.sh ${DEEP_NTFS_CORPUS})
add_test(NAME fuzz.deep_ntfs.replay COMMAND fuzz_deep_ntfs_records -runs=0 -max_len=1048582 ${DEEP_NTFS_CORPUS})
set_tests_properties(fuzz.deep_ntfs.seeds PROPERTIES FIXTURES_SETUP deep_ntfs_corpus LABELS "ntfs;fuzz")
set_tests_properties(fuzz.deep_ntfs.replay PROPERTIES FIXTURES_REQUIRED deep_ntfs_corpus LABELS "ntfs;fuzz")
