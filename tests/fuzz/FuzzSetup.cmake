# Compiler set-up of the fuzz tree (VARDEL_FUZZ=ON). Every library is built
# with libFuzzer's coverage, AddressSanitizer and UndefinedBehaviorSanitizer;
# the targets link the fuzzer's own main. A compiler without libFuzzer (g++,
# or clang without its runtime) gets no targets and a warning.
include(CheckCXXSourceCompiles)

set(CMAKE_REQUIRED_FLAGS "-fsanitize=fuzzer,address,undefined")
set(CMAKE_REQUIRED_LINK_OPTIONS "-fsanitize=fuzzer,address,undefined")
check_cxx_source_compiles([[
#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }
]] VARDEL_FUZZ_SUPPORTED)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)

if(VARDEL_FUZZ_SUPPORTED)
  # -O1 for speed; a Debug tree keeps Qt's own index checks (Q_ASSERT) in
  # the inline code, which find what the sanitizers cannot see inside a
  # string's spare capacity.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined -O1)
  add_link_options(-fsanitize=address,undefined)
else()
  message(WARNING "${CMAKE_CXX_COMPILER} cannot build libFuzzer targets (-fsanitize=fuzzer); "
                  "configure this tree with clang++ and install libclang-rt-14-dev")
endif()
