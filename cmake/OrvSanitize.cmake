# ORV_SANITIZE: the test configuration, AddressSanitizer + UndefinedBehaviorSanitizer on every
# target (also the shared objects loaded with dlopen, so they share the runtime).
if(ORV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  if(CMAKE_BUILD_TYPE STREQUAL "Debug")
    add_compile_options(-O1)  # keeps the big-file tests fast without hiding line numbers
  endif()
endif()

# ORV_FUZZ: libraries get libFuzzer's coverage instrumentation too, so the fuzzers see the
# parsers they drive (the fuzz targets themselves add -fsanitize=fuzzer).
if(ORV_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
