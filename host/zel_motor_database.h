#pragma once
// The motor database: a read-only catalogue shipped with the program and the user's own
// motors, one JSON file per motor (docs/motor-format.md). A motor is the data a datasheet
// gives; picking one writes it into the setup's motor parameters.

#include <string>
#include <string_view>
#include <vector>

#include "host/zel_setup.h"

struct ZelMotorData {
  std::string name;
  double nominal_current_A = 0.0;
  double peak_current_A = 0.0;
  double torque_constant_Nm_per_A = 0.0;
  double resistance_ohm = 0.0;
  double inductance_H = 0.0;
  double inertia_kgm2 = 0.0;
};

enum class ZelMotorSource { Catalogue, User };

struct ZelMotorEntry {
  ZelMotorData data;
  ZelMotorSource source = ZelMotorSource::Catalogue;
  std::string path;
};

// Empty when `name` can name a motor (and its file), else why not.
std::string ZelCheckMotorName(std::string_view name);

struct ZelMotorParse {
  bool ok = false;
  ZelMotorData data;
  std::string error;  // "origin: /field: what is wrong"
};
ZelMotorParse ZelParseMotorText(std::string_view text, const std::string& origin);
std::string ZelMotorToText(const ZelMotorData& motor);

// The setup parameter that each field of a motor fills, in the order they are written:
// the peak current before the nominal one, whose maximum it is.
struct ZelMotorField {
  const char* key;        // in the motor file
  const char* parameter;  // in the setup
  const char* label;      // as `motors show` prints it
  const char* unit;
  double ZelMotorData::*value;
};
const std::vector<ZelMotorField>& ZelMotorFields();

// The motor the setup holds, named `name`.
ZelMotorData ZelMotorFromSetup(const CZel_Setup& setup, std::string name);
// Writes the motor into the setup. Every value is checked against its parameter's range
// first; on a refusal nothing changes and the reason comes back. `written` receives the
// parameters written, in order.
std::string ZelApplyMotorToSetup(CZel_Setup& setup, const ZelMotorData& motor,
                                 std::vector<std::string>* written = nullptr);

// The folders: the catalogue beside the program's other resources (set at start-up, else
// GetGUIDirectory() + "motors"), the user's under $XDG_DATA_HOME/dcservo/motors (else
// ~/.local/share/dcservo/motors).
void ZelSetMotorCatalogueDirectory(std::string folder);
std::string ZelMotorCatalogueDirectory();
std::string ZelUserMotorDirectory();

class ZelMotorDatabase {
 public:
  ZelMotorDatabase(std::string catalogue_dir, std::string user_dir);
  // On the folders above.
  static ZelMotorDatabase Default();

  // Reads both folders again. A file that cannot be read is skipped, named in Problems() and
  // reported once per process as a warning (not an error: the rest of the database serves).
  void Reload();
  // Catalogue motors first, each part in name order.
  const std::vector<ZelMotorEntry>& Motors() const { return motors_; }
  const std::vector<std::string>& Problems() const { return problems_; }
  const ZelMotorEntry* Find(std::string_view name) const;
  // Names matching a shell pattern ("DC40*"), or containing a text without wildcards ("48"),
  // without regard to case; all for an empty one.
  std::vector<const ZelMotorEntry*> Matching(std::string_view pattern) const;

  // Empty on success, else why nothing was written. A catalogue name is refused; a user
  // motor of the same name is replaced.
  std::string SaveUserMotor(const ZelMotorData& motor);
  std::string DeleteUserMotor(std::string_view name);
  const std::string& UserDirectory() const { return user_dir_; }

 private:
  void ReadFolder(const std::string& dir, ZelMotorSource source);

  std::string catalogue_dir_, user_dir_;
  std::vector<ZelMotorEntry> motors_;
  std::vector<std::string> problems_;
};
