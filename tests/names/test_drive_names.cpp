// The drive's names are spelt once, in names/drive_names.h and names/program_names.h: each
// constant must be a name of its kind in the bundled drive's setup, or one of the drive's test
// programs or a variable of one, spelt as the setup or the drive spells it, or every lookup
// through it finds nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "host/zel_errors.h"
#include "names/drive_names.h"
#include "names/program_names.h"
#include "sim/programs.h"
#include "tests/support/test_setups.h"

namespace {

struct NamedConstant {
  std::string kind, identifier, text;
};

// The constants as the header declares them, with the namespace that gives their kind.
std::vector<NamedConstant> DeclaredConstants() {
  std::stringstream text;
  for (const char* header : {"drive_names.h", "program_names.h"}) {
    std::ifstream in(std::string(DCSERVO_RESOURCE_DIR) + "/../names/" + header);
    text << in.rdbuf();
  }
  // A long constant is wrapped after its '='.
  text.str(std::regex_replace(text.str(), std::regex(R"re(=\n +)re"), "= "));
  const std::regex kind_line(R"re(^namespace (\w+) \{)re");
  const std::regex constant_line(R"re(^inline constexpr char (\w+)\[\] = "([^"]*)";)re");
  std::vector<NamedConstant> constants;
  std::string kind, line;
  while (std::getline(text, line)) {
    std::smatch m;
    if (std::regex_search(line, m, kind_line)) kind = m[1];
    else if (std::regex_search(line, m, constant_line)) constants.push_back({kind, m[1], m[2]});
  }
  return constants;
}

// The spelling of a variable as the first program that declares it spells it, or null.
const std::string* ProgramVariable(const std::string& name) {
  static std::vector<std::unique_ptr<dcsim::TestProgram>> programs;
  if (programs.empty()) {
    for (const std::string& program : dcsim::TestProgramNames())
      programs.push_back(dcsim::MakeTestProgram(program));
  }
  for (const auto& program : programs) {
    if (const ZelProgramVariable* v = program->Declaration(name)) return &v->name;
  }
  return nullptr;
}

TEST(DriveNames, EveryConstantIsANameOfItsKindInTheBundledDrive) {
  const auto setup = testing_support::LoadBundledSetup();
  std::set<std::string> options;
  for (const auto& [name, value] : setup->GetOptions()) options.insert(name);
  const std::vector<NamedConstant> constants = DeclaredConstants();
  ASSERT_GT(constants.size(), 300u) << "the header was not read";
  std::set<std::string> seen;
  for (const NamedConstant& c : constants) {
    SCOPED_TRACE(c.kind + "::" + c.identifier);
    EXPECT_EQ(c.identifier, c.text) << "a constant keeps the drive's spelling";
    EXPECT_TRUE(seen.insert(c.text).second) << "named twice";
    const std::string* spelt = nullptr;
    if (c.kind == "param") {
      if (const CZel_Parameter* p = setup->FindParameter(c.text)) spelt = &p->GetName();
    } else if (c.kind == "var") {
      if (const CZel_Variable* v = setup->FindVariable(c.text, 0)) spelt = &v->GetName();
      ZelQuietErrors quiet;
      EXPECT_EQ(setup->FindParameter(c.text), nullptr) << "a parameter too: it belongs in param";
    } else if (c.kind == "option") {
      if (auto o = options.find(c.text); o != options.end()) spelt = &*o;
    } else if (c.kind == "program") {
      spelt = ProgramVariable(c.text);
    } else if (c.kind == "drive_program") {
      const std::vector<std::string>& programs = dcsim::TestProgramNames();
      if (auto p = std::find(programs.begin(), programs.end(), c.text); p != programs.end())
        spelt = &*p;
    } else {
      ADD_FAILURE() << "no kind";
    }
    ASSERT_NE(spelt, nullptr) << "not in the bundled drive's setup nor in a program";
    EXPECT_EQ(*spelt, c.text) << "spelt otherwise in the setup";
  }
}

}  // namespace
