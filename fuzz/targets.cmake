# The libFuzzer targets, fuzz/<name>.cpp each; the suite replays their corpora
# (tests/CMakeLists.txt) and `make fuzz` runs them (fuzz/CMakeLists.txt).
set(KQ_FUZZ_TARGETS admin_request_fuzz argv_parse_fuzz config_load_fuzz crypt_decode_fuzz data_decode_fuzz
  pipe_read_fuzz value_read_fuzz)
# The remote module's wire format is built with the module, when it is.
set(KQ_REMOTE_FUZZ_TARGETS "")
if(TARGET remote_wire)
  set(KQ_REMOTE_FUZZ_TARGETS remote_wire_fuzz)
  list(APPEND KQ_FUZZ_TARGETS ${KQ_REMOTE_FUZZ_TARGETS})
endif()
