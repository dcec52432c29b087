// What the fuzz targets share: the libFuzzer entry point and the way a
// broken invariant is reported.
//
// A target returns normally for every input the code under test handles
// as documented, a refusal included. Anything else is a finding: a
// sanitizer report, an exception of a type the code does not promise, or
// an invariant the target checks. Finding() prints what broke and aborts,
// so libFuzzer saves the input as a crash-* file.
#ifndef TARNWICK_FUZZ_FINDING_H_
#define TARNWICK_FUZZ_FINDING_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// `detail` may hold any bytes; it is printed as it is, for a person to read.
[[noreturn]] inline void Finding(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "\nFINDING: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(detail.size()), detail.data());
  }
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz

#endif  // TARNWICK_FUZZ_FINDING_H_
