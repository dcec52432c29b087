// Fuzz target "loader": the profile (JSON) + LDIF loader,
// LoadOrganisationText, and the LDIF loader's two ways of screening a text
// (first, or as it reads), which must agree.
//
// Input layout: the profile text, then a line that is exactly
// "----LDIF----" (ended by "\n", or by the end of the input), then the LDIF
// text. The first such line is the separator; without one the whole input
// is the profile and the LDIF is empty. A line rather than a NUL byte, so
// that NUL bytes stay available inside both texts.
//
// ProfileError is the loader refusing bad input, which is right; any other
// exception leaving the loader is a finding (libFuzzer reports it as a
// crash).
//
// The loader is handed texts, so it has no business opening files: an
// "attr:< file://..." value or an "include:" line must be refused before
// libldap's reader would open what it names. While the loader runs, any
// fopen for reading is therefore a finding (and is refused, so that a
// finding cannot hang the run on /dev/zero or a FIFO).
#include <dlfcn.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "fuzz/finding.h"
#include "platform/memory/directory_data.h"
#include "platform/memory/ldif_loader.h"
#include "platform/memory/memory_backend.h"
#include "platform/memory/organisation.h"

namespace {

constexpr std::string_view kSeparator = "----LDIF----";

// True only while LoadOrganisationText runs.
bool loading = false;

using OpenFunction = FILE* (*)(const char*, const char*);

// Opens for writing always pass: libFuzzer writes its crash file through
// fopen, possibly from a crash inside the loader.
FILE* GuardedOpen(const char* symbol, const char* path, const char* mode) {
  const bool writing = mode != nullptr && (mode[0] == 'w' || mode[0] == 'a');
  if (loading && !writing) {
    fuzz::Finding("the loader opened a file while loading texts",
                  path != nullptr ? path : "(null)");
    errno = EACCES;
    return nullptr;
  }
  static_assert(sizeof(void*) == sizeof(OpenFunction));
  void* const next = dlsym(RTLD_NEXT, symbol);
  if (next == nullptr) {
    errno = ENOSYS;
    return nullptr;
  }
  OpenFunction real = nullptr;
  std::memcpy(&real, &next, sizeof real);
  return real(path, mode);
}

struct LoadingScope {
  LoadingScope() { loading = true; }
  ~LoadingScope() { loading = false; }
  LoadingScope(const LoadingScope&) = delete;
  LoadingScope& operator=(const LoadingScope&) = delete;
};

void Split(std::string_view input, std::string* profile, std::string* ldif) {
  size_t at = 0;
  while (at <= input.size()) {
    const size_t end = input.find('\n', at);
    const std::string_view line =
        input.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    if (line == kSeparator) {
      profile->assign(input.substr(0, at));
      ldif->assign(end == std::string_view::npos ? std::string_view() : input.substr(end + 1));
      return;
    }
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  profile->assign(input);
  ldif->clear();
}

}  // namespace

// libldap opens through fopen64; libFuzzer writes its files through fopen.
extern "C" FILE* fopen(const char* path, const char* mode) {
  return GuardedOpen("fopen", path, mode);
}
extern "C" FILE* fopen64(const char* path, const char* mode) {
  return GuardedOpen("fopen64", path, mode);
}

// What loading the LDIF alone gives: the objects (DN, line, values), or
// the fault.
std::string LoadedLdif(const std::string& ldif, size_t screen_while_reading_from) {
  platform::memory::DirectoryData directory;
  std::string root_dn;
  try {
    const LoadingScope scope;
    platform::memory::LoadLdifText(ldif, "fuzz.ldif", directory, &root_dn, {},
                                   screen_while_reading_from);
  } catch (const platform::memory::ProfileError& e) {
    return std::string("fault ") + e.what();
  }
  std::string out = root_dn;
  for (const auto& object : directory.Entries()) {
    out += '\n';
    out += object.dn;
    out += " @" + std::to_string(object.line);
    for (const auto attribute : object.attributes()) {
      for (const std::string_view value : attribute.values()) {
        out += "\n ";
        out += attribute.name();
        out += '=';
        out += value;
      }
    }
  }
  return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string profile;
  std::string ldif;
  Split(fuzz::AsText(data, size), &profile, &ldif);
  try {
    const LoadingScope scope;
    platform::memory::LoadOrganisationText(profile, ldif, "fuzz");
  } catch (const platform::memory::ProfileError&) {
  }
  // A large text is screened as it is read rather than first: a small one
  // is loaded both ways, which must refuse the same texts and load the
  // same objects from the others.
  const std::string first = LoadedLdif(ldif, std::numeric_limits<size_t>::max());
  const std::string while_reading = LoadedLdif(ldif, 0);
  if ((first.rfind("fault ", 0) == 0) != (while_reading.rfind("fault ", 0) == 0) ||
      (first.rfind("fault ", 0) != 0 && first != while_reading)) {
    fuzz::Finding("screening as the text is read differs from screening it first",
                  first + "\n----\n" + while_reading);
  }
  return 0;
}
