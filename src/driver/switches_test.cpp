#include "driver/switches.h"

#include <gtest/gtest.h>

namespace modTest {
namespace {

TEST(ParseSwitchesTest, SwitchesInAnyOrderGiveTheSameValues) {
  const Switches forward = ParseSwitches("/s srv /a box /l list@example.com");
  const Switches backward = ParseSwitches("/l list@example.com /a box /s srv");
  EXPECT_EQ(forward.server, "srv");
  EXPECT_EQ(forward.alias, "box");
  EXPECT_EQ(forward.list, "list@example.com");
  EXPECT_EQ(backward.server, forward.server);
  EXPECT_EQ(backward.alias, forward.alias);
  EXPECT_EQ(backward.list, forward.list);
}

TEST(ParseSwitchesTest, CapitalSwitchLettersAreNotRecognised) {
  const Switches s = ParseSwitches("/S srv /A box /L list");
  EXPECT_EQ(s.server, "");
  EXPECT_EQ(s.alias, "");
  EXPECT_EQ(s.list, "");
}

TEST(ParseSwitchesTest, ValuesAreTrimmedOfBlanksOnlyAndCutAtBlankSlash) {
  EXPECT_EQ(ParseSwitches("/s  srv   ").server, "srv");
  // A tab is not a blank and stays part of the value.
  EXPECT_EQ(ParseSwitches("/s\tsrv\t").server, "\tsrv\t");
  // A value holding " /" is cut there, and its tail is read as a switch of
  // its own: "srv/profiles" starts with "s".
  const Switches cut = ParseSwitches("/s /srv/profiles /x.json /a box");
  EXPECT_EQ(cut.server, "rv/profiles");
  EXPECT_EQ(cut.alias, "box");
  const Switches path = ParseSwitches("/s profiles/org.json /a box");
  EXPECT_EQ(path.server, "profiles/org.json");  // a slash without a blank stays
  const Switches inner = ParseSwitches("/l a@example.com /bad /a box");
  EXPECT_EQ(inner.list, "a@example.com");
  EXPECT_EQ(inner.alias, "box");
}

TEST(ParseSwitchesTest, FirstPieceWithoutSlashIsTakenByItsLetter) {
  EXPECT_EQ(ParseSwitches("s srv /a box").server, "srv");
  // "a" is tested before "s": a first word starting with "a" is an alias.
  const Switches s = ParseSwitches("alpha /s srv");
  EXPECT_EQ(s.alias, "lpha");
  EXPECT_EQ(s.server, "srv");
}

TEST(ParseSwitchesTest, LaterSwitchReplacesEarlierAndStrayTextIsIgnored) {
  const Switches s = ParseSwitches("/a first /s srv /a second /x stray /l");
  EXPECT_EQ(s.alias, "second");
  EXPECT_EQ(s.server, "srv");
  EXPECT_EQ(s.list, "");
  // An empty later value still replaces the earlier one.
  EXPECT_EQ(ParseSwitches("/a box /a").alias, "");
}

TEST(JoinArgumentsTest, JoinsArgumentsAfterTheProgramNameWithSingleBlanks) {
  const char* const none[] = {"tarnwick"};
  EXPECT_EQ(JoinArguments(1, none), "");
  const char* const args[] = {"tarnwick", "/s", "my profile.json", "/a", "box"};
  EXPECT_EQ(JoinArguments(5, args), "/s my profile.json /a box");
  EXPECT_EQ(ParseSwitches(JoinArguments(5, args)).server, "my profile.json");
}

}  // namespace
}  // namespace modTest
