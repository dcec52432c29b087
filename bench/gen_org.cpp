// Writes a large example organisation (profile.json + directory.ldif) for
// the benchmarks:
//   gen_org <folder> <persons> <lists> <depth> <query members> [<chain>]
// Lists form a tree `depth` levels deep under "bench-all"; persons are dealt
// round-robin to the lowest level; every tenth lowest list also holds its
// grandparent, so the walk meets cycles. "bench-query" is a query-based
// list whose filter matches the first <query members> persons. <chain>
// adds a chain of that many query-based lists "chain-q0" ... : the filter of
// each matches one group by its mail, and that group holds the next
// query-based list, so expanding chain-q0 looks up every list of the chain
// by its mail.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr char kBase[] = "DC=bench,DC=example";
constexpr char kSchema[] = "CN=Schema,CN=Configuration,DC=bench,DC=example";
constexpr char kOdn[] = "/o=Bench/ou=First Administrative Group/cn=Recipients/cn=";

std::string PersonDn(long i) {
  return "CN=Person " + std::to_string(i) + ",OU=People," + std::string(kBase);
}
std::string ListDn(long i) {
  return "CN=List " + std::to_string(i) + ",OU=Lists," + std::string(kBase);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr,
                 "usage: gen_org <folder> <persons> <lists> <depth> <query members> [<chain>]\n");
    return 2;
  }
  const long chain = argc == 7 ? std::atol(argv[6]) : 0;
  const std::string folder = argv[1];
  const long persons = std::atol(argv[2]);
  const long lists = std::max(1L, std::atol(argv[3]));
  const long depth = std::max(1L, std::atol(argv[4]));
  const long query_members = std::atol(argv[5]);

  // Lists by level: level 0 is list 0 (bench-all); the rest are spread
  // evenly over levels 1..depth-1 and each hangs under a list of the level
  // above.
  std::vector<long> level(lists, 0);
  std::vector<long> parent(lists, -1);
  std::vector<std::vector<long>> by_level(depth);
  by_level[0].push_back(0);
  for (long i = 1; i < lists; ++i) {
    const long l = depth == 1 ? 0 : 1 + (i - 1) % (depth - 1);
    level[i] = l;
    by_level[l].push_back(i);
  }
  for (long l = 1; l < depth; ++l) {
    if (by_level[l - 1].empty()) break;
    for (size_t k = 0; k < by_level[l].size(); ++k) {
      parent[by_level[l][k]] = by_level[l - 1][k % by_level[l - 1].size()];
    }
  }
  long lowest = depth - 1;
  while (lowest > 0 && by_level[lowest].empty()) --lowest;
  const auto& leaves = by_level[lowest];

  std::vector<std::vector<std::string>> members(lists);
  for (long i = 1; i < lists; ++i) {
    if (parent[i] >= 0) members[parent[i]].push_back(ListDn(i));
  }
  for (size_t k = 0; k < leaves.size(); k += 10) {
    const long p = parent[leaves[k]];
    if (p >= 0 && parent[p] >= 0) members[leaves[k]].push_back(ListDn(parent[p]));
  }
  for (long i = 0; i < persons; ++i) members[leaves[i % leaves.size()]].push_back(PersonDn(i));

  std::ofstream ldif(folder + "/directory.ldif");
  ldif << "version: 1\n\n";
  ldif << "dn: " << kBase << "\nobjectClass: domainDNS\ndc: bench\n\n";
  ldif << "dn: OU=People," << kBase << "\nobjectClass: organizationalUnit\nou: People\n\n";
  ldif << "dn: OU=Lists," << kBase << "\nobjectClass: organizationalUnit\nou: Lists\n\n";
  for (long i = 0; i < persons; ++i) {
    const std::string nick = "p" + std::to_string(i);
    ldif << "dn: " << PersonDn(i) << "\nobjectClass: top\nobjectClass: person\n"
         << "objectClass: organizationalPerson\nobjectClass: user\n"
         << "cn: Person " << i << "\ndisplayName: Person " << i << "\nmailNickname: " << nick
         << "\ngivenName: Given" << i << "\nsn: Family" << i << "\nobjectCategory: CN=Person,"
         << kSchema << "\nlegacyExchangeDN: " << kOdn << nick << "\nmail: " << nick
         << "@bench.example\nproxyAddresses: SMTP:" << nick << "@bench.example\n"
         << "proxyAddresses: smtp:" << nick
         << ".alt@bench.example\ndepartment: " << (i < query_members ? "Query" : "Other")
         << "\ntitle: Title " << i % 50 << "\ntelephoneNumber: +1 555 " << i << "\n\n";
  }
  for (long i = 0; i < lists; ++i) {
    const std::string nick = i == 0 ? "bench-all" : "list" + std::to_string(i);
    ldif << "dn: " << ListDn(i) << "\nobjectClass: top\nobjectClass: group\ncn: List " << i
         << "\ndisplayName: List " << i << "\nmailNickname: " << nick
         << "\nobjectCategory: CN=Group," << kSchema << "\nlegacyExchangeDN: " << kOdn << nick
         << "\nmail: " << nick << "@bench.example\nproxyAddresses: SMTP:" << nick
         << "@bench.example\n";
    for (const auto& m : members[i]) ldif << "member: " << m << "\n";
    ldif << "\n";
  }
  ldif << "dn: CN=Bench Query,OU=Lists," << kBase
       << "\nobjectClass: top\nobjectClass: msExchDynamicDistributionList\ncn: Bench Query"
       << "\ndisplayName: Bench Query\nmailNickname: bench-query\nobjectCategory: "
       << "CN=ms-Exch-Dynamic-Distribution-List," << kSchema << "\nlegacyExchangeDN: " << kOdn
       << "bench-query\nmail: bench-query@bench.example\nproxyAddresses: "
       << "SMTP:bench-query@bench.example\nmsExchDynamicDLFilter: "
       << "(&(objectClass=user)(objectCategory=person)(mailNickname=*)(department=Query))\n"
       << "msExchDynamicDLBaseDN: OU=People," << kBase << "\n\n";

  for (long i = 0; i < chain; ++i) {
    const std::string q = "chain-q" + std::to_string(i);
    const std::string g = "chain-g" + std::to_string(i);
    ldif << "dn: CN=" << q << ",OU=Lists," << kBase
         << "\nobjectClass: top\nobjectClass: msExchDynamicDistributionList\ncn: " << q
         << "\ndisplayName: " << q << "\nmailNickname: " << q
         << "\nobjectCategory: CN=ms-Exch-Dynamic-Distribution-List," << kSchema
         << "\nlegacyExchangeDN: " << kOdn << q << "\nmail: " << q
         << "@bench.example\nproxyAddresses: SMTP:" << q
         << "@bench.example\nmsExchDynamicDLFilter: (mail=" << g
         << "@bench.example)\nmsExchDynamicDLBaseDN: " << kBase << "\n\n";
    ldif << "dn: CN=" << g << ",OU=Lists," << kBase
         << "\nobjectClass: top\nobjectClass: group\ncn: " << g << "\ndisplayName: " << g
         << "\nmailNickname: " << g << "\nobjectCategory: CN=Group," << kSchema
         << "\nlegacyExchangeDN: " << kOdn << g << "\nmail: " << g
         << "@bench.example\nproxyAddresses: SMTP:" << g << "@bench.example\n";
    if (i + 1 < chain) ldif << "member: CN=chain-q" << i + 1 << ",OU=Lists," << kBase << "\n";
    ldif << "\n";
  }

  std::ofstream profile(folder + "/profile.json");
  profile << "{\n  \"directory\": \"directory.ldif\",\n  \"mailboxes\": [\n"
          << "    { \"alias\": \"bench\", \"store\": \"Mailbox - Bench\", \"folders\": "
          << "[ { \"name\": \"Drafts\" } ] }\n  ]\n}\n";
  return ldif && profile ? 0 : 1;
}
