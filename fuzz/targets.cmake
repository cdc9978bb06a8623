# The libFuzzer targets, fuzz/<name>.cpp each; the suite replays their corpora
# (tests/CMakeLists.txt) and `make fuzz` runs them (fuzz/CMakeLists.txt).
set(KQ_FUZZ_TARGETS argv_parse_fuzz config_load_fuzz crypt_decode_fuzz data_decode_fuzz pipe_read_fuzz
  value_read_fuzz)
