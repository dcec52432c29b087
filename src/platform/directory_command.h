// The four-part directory command text and the search scopes, shared by
// every backend's directory commands:
//   "<GC://base>;filter;attributes;scope"
//   - The base ends at the first ">" that is not escaped with "\" in the DN;
//     "GC://" with no DN is the whole directory.
//   - The scope follows the last ";": "subTree", "oneLevel" or "base" in any
//     letter case.
//   - A filter that starts with "(" ends where its parentheses balance, so
//     ";" may appear in its values and attribute names may carry options
//     ("member;range=0-1499"); a filter without parentheses ends at the
//     first ";". The filter is not parsed here (platform/ldap_filter.h).
//   - Attributes are separated by ","; blanks around the parts are ignored.
#ifndef TARNWICK_PLATFORM_DIRECTORY_COMMAND_H_
#define TARNWICK_PLATFORM_DIRECTORY_COMMAND_H_

#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class SearchScope { kBase, kOneLevel, kSubTree };

struct DirectoryCommand {
  std::string base_dn;  // "" for the whole directory
  std::string filter;
  std::vector<std::string> attributes;  // never empty
  SearchScope scope = SearchScope::kSubTree;
};

// Parses a command text. Raises PlatformError 0x80040E14 with a description
// that quotes the text and names the fault when it does not fit.
DirectoryCommand ParseDirectoryCommand(std::string_view command_text);

// Whether the object with DN key `key` is in a oneLevel or subTree search
// from the base with key `base_key` ("" being the top of the directory).
// Keys come from DnKey (platform/dn.h), so the base's spelling in the
// command does not matter and an escaped comma inside an RDN value never
// counts as a level. A base search is not decided here: it gives the base
// object itself or nothing.
bool InScope(std::string_view key, std::string_view base_key, SearchScope scope);

}  // namespace platform

#endif  // TARNWICK_PLATFORM_DIRECTORY_COMMAND_H_
