#include "platform/ldap/connection_options.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/server_directory.h"

namespace platform::ldap {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kUrl[] = "ldap://dir.tarnwick.test:3389/";

class ConnectionOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarnwick-options-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& content, mode_t mode = 0600) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    ::chmod(path.c_str(), mode);
    return path;
  }

  ServerOptions Resolve(const ProfileLdapKeys* profile, std::string_view url = kUrl) {
    return ResolveOptions(
        url, profile,
        [this](const char* name) -> std::optional<std::string> {
          const auto found = env_.find(name);
          if (found == env_.end()) return std::nullopt;
          return found->second;
        },
        [this](const std::string& line) { warnings_.push_back(line); });
  }

  std::string Failure(const ProfileLdapKeys* profile, std::string_view url = kUrl) {
    try {
      Resolve(profile, url);
    } catch (const ConnectError& error) {
      return error.what();
    }
    return "(no ConnectError)";
  }

  std::string dir_;
  std::map<std::string, std::string> env_;
  std::vector<std::string> warnings_;
};

TEST_F(ConnectionOptionsTest, RecognisesAndValidatesLdapUrls) {
  for (const char* yes : {"ldap://h", "LDAPS://h:636", "ldapi://%2Fvar%2Frun%2Fslapd", "Ldap://"}) {
    EXPECT_TRUE(IsServerUrl(yes)) << yes;
  }
  for (const char* no : {"", "ldap:/h", "ldapx://h", "profile.json", "/srv/ldap://h", "ldap"}) {
    EXPECT_FALSE(IsServerUrl(no)) << no;
  }
  EXPECT_EQ(Resolve(nullptr, "LDAP://dir:389").url, "LDAP://dir:389");
  const std::string bad = Failure(nullptr, "ldap://dir:389/dc=x?cn?nonsense");
  EXPECT_THAT(bad, HasSubstr("'ldap://dir:389/dc=x?cn?nonsense'"));
  EXPECT_THAT(bad, HasSubstr("scope"));
  EXPECT_THAT(Failure(nullptr, "ldap://dir\n:389"), HasSubstr("'ldap://dir\\x0A:389'"));
  EXPECT_THAT(Failure(nullptr, "http://dir"), HasSubstr("'http://dir'"));
}

TEST_F(ConnectionOptionsTest, CredentialsComeFromTheProfileElseTheEnvironmentElseNone) {
  ServerOptions anonymous = Resolve(nullptr);
  EXPECT_EQ(anonymous.bind_dn, "");
  EXPECT_EQ(anonymous.password, "");
  EXPECT_FALSE(anonymous.start_tls);
  EXPECT_EQ(anonymous.timeout_seconds, 30);

  env_["TARNWICK_BIND_DN"] = "cn=env,dc=test";
  env_["TARNWICK_BIND_PASSWORD_FILE"] = Write("env.pw", "from-env\n");
  ServerOptions from_env = Resolve(nullptr);
  EXPECT_EQ(from_env.bind_dn, "cn=env,dc=test");
  EXPECT_EQ(from_env.password, "from-env");

  ProfileLdapKeys profile;
  profile.bind_dn = "cn=profile,dc=test";
  profile.password_file = Write("profile.pw", "from-profile");
  profile.start_tls = true;
  profile.timeout_seconds = 7;
  ServerOptions from_profile = Resolve(&profile);
  EXPECT_EQ(from_profile.bind_dn, "cn=profile,dc=test");
  EXPECT_EQ(from_profile.password, "from-profile");
  EXPECT_TRUE(from_profile.start_tls);
  EXPECT_EQ(from_profile.timeout_seconds, 7);

  // A profile without credentials still takes them from the environment.
  ProfileLdapKeys tls_only;
  tls_only.start_tls = true;
  tls_only.bind_dn = "";
  EXPECT_EQ(Resolve(&tls_only).bind_dn, "cn=env,dc=test");
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(ConnectionOptionsTest, HalfGivenCredentialsAreErrorsNamingWhatIsMissing) {
  ProfileLdapKeys dn_only;
  dn_only.bind_dn = "cn=x,dc=test";
  EXPECT_THAT(Failure(&dn_only), HasSubstr("bindDN but no passwordFile"));
  ProfileLdapKeys file_only;
  file_only.password_file = Write("pw", "secret");
  EXPECT_THAT(Failure(&file_only), HasSubstr("passwordFile but no bindDN"));

  env_["TARNWICK_BIND_DN"] = "cn=env,dc=test";
  EXPECT_THAT(Failure(nullptr), HasSubstr("TARNWICK_BIND_PASSWORD_FILE is not"));
  env_["TARNWICK_BIND_DN"] = "";  // set but empty counts as unset
  env_["TARNWICK_BIND_PASSWORD_FILE"] = Write("pw2", "secret");
  EXPECT_THAT(Failure(nullptr), HasSubstr("TARNWICK_BIND_DN is not"));

  env_.clear();
  ProfileLdapKeys bad_timeout;
  bad_timeout.timeout_seconds = 0;
  EXPECT_THAT(Failure(&bad_timeout), HasSubstr("timeoutSeconds"));
}

TEST_F(ConnectionOptionsTest, PasswordFileRules) {
  ProfileLdapKeys profile;
  profile.bind_dn = "cn=x,dc=test";
  auto password_of = [&](const std::string& content) {
    profile.password_file = Write("pw", content);
    return Resolve(&profile).password;
  };
  EXPECT_EQ(password_of("secret\n"), "secret");
  EXPECT_EQ(password_of("secret\r\n"), "secret");
  EXPECT_EQ(password_of("secret\n\n"), "secret\n");  // one newline only
  EXPECT_EQ(password_of(std::string("bin\0ary", 7)), std::string("bin\0ary", 7));
  EXPECT_TRUE(warnings_.empty());

  // Others may read it: used, with a warning that names the file.
  profile.password_file = Write("open.pw", "secret\n", 0644);
  EXPECT_EQ(Resolve(&profile).password, "secret");
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_THAT(warnings_[0], HasSubstr(*profile.password_file));
  EXPECT_THAT(warnings_[0], HasSubstr("readable by others"));
  EXPECT_THAT(warnings_[0], Not(HasSubstr("secret")));

  const std::string missing = dir_ + "/none.pw";
  profile.password_file = missing;
  std::string line = Failure(&profile);
  EXPECT_THAT(line, HasSubstr(missing));
  EXPECT_THAT(line, HasSubstr("No such file or directory"));

  // A directory cannot be read as a file, even by root.
  profile.password_file = dir_;
  line = Failure(&profile);
  EXPECT_THAT(line, HasSubstr(dir_));
  EXPECT_THAT(line, HasSubstr("Is a directory"));

  for (const char* empty : {"", "\n", "\r\n"}) {
    profile.password_file = Write("empty.pw", empty);
    EXPECT_THAT(Failure(&profile), HasSubstr("it is empty")) << empty;
  }
  profile.password_file = Write("big.pw", std::string(70 * 1024, 'x'));
  EXPECT_THAT(Failure(&profile), HasSubstr("larger than 64 KiB"));
}

}  // namespace
}  // namespace platform::ldap
