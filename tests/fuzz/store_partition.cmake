# Fuzz targets over partition tables and over the scan-result store and
# scan index files; included by CMakeLists.txt beside this file.
#
#   cmake --build --preset fuzz --target fuzz_partition fuzz_partition_corpus
#   build/fuzz/tests/fuzz/fuzz_partition -max_len=262144 -timeout=10 build/fuzz/tests/fuzz/partition_corpus
#   cmake --build --preset fuzz --target fuzz_store_files fuzz_store_files_corpus
#   build/fuzz/tests/fuzz/fuzz_store_files -max_len=262144 -timeout=10 build/fuzz/tests/fuzz/store_files_corpus
tessaroo_add_fuzzer(fuzz_partition SOURCES PartitionFuzz.cpp LIBS tessaroo_partition)
tessaroo_add_fuzzer(fuzz_store_files SOURCES StoreFilesFuzz.cpp LIBS tessaroo_store)

set(SP_CORPUS_SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/make_store_partition_corpus.sh)

# Seeds: the first sectors of the partition test images and hand-built chains.
set(PARTITION_CORPUS ${CMAKE_CURRENT_BINARY_DIR}/partition_corpus)
add_custom_target(fuzz_partition_corpus
  COMMAND ${SP_CORPUS_SCRIPT} partition ${PARTITION_CORPUS}
  COMMENT "Making the fuzz_partition seeds")

# Seeds: the store files of a fast scan of the sample, and damaged copies.
set(STORE_CORPUS ${CMAKE_CURRENT_BINARY_DIR}/store_files_corpus)
add_custom_target(fuzz_store_files_corpus
  COMMAND ${SP_CORPUS_SCRIPT} store ${STORE_CORPUS} $<TARGET_FILE:tessaroo-cli>
  DEPENDS tessaroo-cli
  COMMENT "Making the fuzz_store_files seeds")

# Every seed (and whatever a fuzzing run added to the corpus) replayed once.
add_test(NAME fuzz.partition.seeds COMMAND ${SP_CORPUS_SCRIPT} partition ${PARTITION_CORPUS})
add_test(NAME fuzz.partition.replay COMMAND fuzz_partition -runs=0 ${PARTITION_CORPUS})
set_tests_properties(fuzz.partition.seeds PROPERTIES FIXTURES_SETUP partition_corpus LABELS "partition;fuzz")
set_tests_properties(fuzz.partition.replay PROPERTIES FIXTURES_REQUIRED partition_corpus LABELS "partition;fuzz")

add_test(NAME fuzz.store.seeds COMMAND ${SP_CORPUS_SCRIPT} store ${STORE_CORPUS} $<TARGET_FILE:tessaroo-cli>)
add_test(NAME fuzz.store.replay COMMAND fuzz_store_files -runs=0 ${STORE_CORPUS})
set_tests_properties(fuzz.store.seeds PROPERTIES FIXTURES_SETUP store_files_corpus LABELS "store;fuzz")
set_tests_properties(fuzz.store.replay PROPERTIES FIXTURES_REQUIRED store_files_corpus LABELS "store;fuzz")
