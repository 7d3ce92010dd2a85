// The --set, --set-internal and --option assignments of the command line, applied to the
// bundled drive as the program applies them: a number with an optional unit name, which must
// be a unit of the parameter's quantity. Whatever is refused is refused with CommandError and
// leaves a setup that still saves and loads; no text may crash the parser or the store.
//
// Each line is one assignment; its first character picks the kind ('i' internal, 'o' option,
// anything else base units) and the rest is NAME=VALUE.

#include "app/setup_session.h"
#include "fuzz/fuzz_support.h"
#include "host/zel_errors.h"
#include "host/zel_units.h"

namespace {

Assignment ToAssignment(const std::string& line) {
  const char kind = line.empty() ? ' ' : line.front();
  const std::string text = line.empty() ? line : line.substr(1);
  switch (kind) {
    case 'i': return {Assignment::Kind::Internal, text};
    case 'o': return {Assignment::Kind::Option, text};
    default: return {Assignment::Kind::Base, text};
  }
}

// The unit table on its own: a name that it finds converts there and back.
void CheckUnitName(const std::string& name) {
  const CZel_Unit* unit = ZelUnitTable().FindUnit(name);
  if (!unit) return;
  const double base = unit->ToBase(1.0);
  if (!(unit->FromBase(base) > 0.0)) fuzz::Fail("a unit does not convert back");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Plugin();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  std::unique_ptr<SetupSession> session;
  {
    ZelQuietErrors quiet;
    session = std::make_unique<SetupSession>("");
  }
  bool changed = false;
  for (const std::string& line : fuzz::Lines(fuzz::AsText(data, size))) {
    const Assignment a = ToAssignment(line);
    CheckUnitName(a.text);
    try {
      ZelQuietErrors quiet;
      session->Apply({a});
      changed = true;
    } catch (const CommandError& e) {
      if (e.code != kExitBadInput) fuzz::Fail("a refused assignment is not bad input");
    }
  }
  if (changed) fuzz::CheckSavesAndReloads(session->Setup());
  return 0;
}
