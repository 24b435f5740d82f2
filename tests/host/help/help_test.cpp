#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "monitor/help_path.h"

namespace {

TEST(HelpPathTest, TempFolderResultMustLeaveRoomForTheTerminator) {
  const struct { unsigned long result; bool fits; } cases[] = {
      {0, false}, {1, true}, {255, true}, {256, false}, {257, false}, {4000, false}};
  for (const auto& c : cases) EXPECT_EQ(temp_path_fits(c.result), c.fits) << c.result;
}

TEST(HelpPathTest, ChmGoesOverTheLastThreeCharactersOfATerminatedPath) {
  const struct { std::wstring path; int capacity; int index; } cases[] = {
      {L"C:\\Temp\\NEW1A2B.tmp", kHelpPathCapacity, 16},
      {L"a.tmp", kHelpPathCapacity, 2},  // shortest name that still has a stem
      {L".tmp", kHelpPathCapacity, -1},
      {L"", kHelpPathCapacity, -1},
      {L"abcde", 6, 2},                  // terminator in the last slot
      {L"abcdef", 6, -1},                // no terminator inside the buffer
  };
  for (const auto& c : cases) {
    std::vector<wchar_t> buffer(c.path.begin(), c.path.end());
    buffer.push_back(L'\0');
    EXPECT_EQ(chm_extension_index(buffer.data(), c.capacity), c.index) << c.path.c_str();
  }
  EXPECT_EQ(chm_extension_index(nullptr, kHelpPathCapacity), -1);
}

TEST(HelpControlTest, ControlIsLoadedAtMostOnce) {
  EXPECT_TRUE(help_control_should_load(HELP_CONTROL_UNTRIED));
  const struct { bool loaded; bool entry; int state; } cases[] = {
      {true, true, HELP_CONTROL_LOADED},
      {true, false, HELP_CONTROL_UNAVAILABLE},
      {false, false, HELP_CONTROL_UNAVAILABLE}};
  for (const auto& c : cases) {
    const int state = help_control_state_after_load(c.loaded, c.entry);
    EXPECT_EQ(state, c.state);
    EXPECT_FALSE(help_control_should_load(state)) << "tried again after " << state;
  }
}

// The help document is compiled from these sources; a topic missing from the project or a
// dead link only shows as a blank page in the viewer, so check the sources here.
std::string read_help_source(const std::string& name) {
  std::ifstream in(std::string(QC_HELP_SOURCE_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return in ? text.str() : std::string();
}

std::vector<std::string> matches(const std::string& text, const std::string& pattern) {
  std::vector<std::string> out;
  const std::regex re(pattern, std::regex::icase);
  for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
    out.push_back((*it)[1]);
  return out;
}

TEST(HelpDocumentTest, EveryTopicIsInTheProjectAndEveryLinkResolves) {
  const std::string project = read_help_source("quellcore.hhp");
  ASSERT_FALSE(project.empty());
  const auto files_section = project.substr(project.find("[FILES]"));
  const auto listed_vector = matches(files_section, "\\n([\\w.-]+\\.(?:html|css))");
  const std::set<std::string> listed(listed_vector.begin(), listed_vector.end());
  ASSERT_GE(listed.size(), 5u);
  for (const auto& key : {"Contents file", "Index file", "Default topic"}) {
    const auto value = matches(project, std::string(key) + "=([^\\r\\n]+)");
    ASSERT_EQ(value.size(), 1u) << key;
    EXPECT_FALSE(read_help_source(value[0]).empty()) << key << " " << value[0];
  }
  for (const auto& map : {"quellcore.hhc", "quellcore.hhk"})
    for (const auto& topic : matches(read_help_source(map), "name=\"Local\" value=\"([^\"]+)\""))
      EXPECT_TRUE(listed.count(topic)) << map << " names " << topic << " outside the project";
  for (const auto& file : listed) {
    const std::string text = read_help_source(file);
    EXPECT_FALSE(text.empty()) << file << " is listed but missing";
    if (file.find(".html") == std::string::npos) continue;
    EXPECT_EQ(matches(text, "<title>([^<]+)</title>").size(), 1u) << file;
    for (const auto& target : matches(text, "(?:href|src)=\"([^\"#:]+)\""))
      EXPECT_TRUE(listed.count(target)) << file << " links to " << target;
  }
}

}  // namespace
