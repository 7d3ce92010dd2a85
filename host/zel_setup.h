#pragma once
// The host's setup store: one per drive. It owns parameters, options, live variables,
// identity data and the unit table; the plug-in keeps no state of its own between calls.

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/zel_errors.h"
#include "host/zel_names.h"
#include "host/zel_units.h"

class CZel_Setup;

// The plug-in's conversion between internal and base units, handed to the setup when the
// plug-in is loaded: base = (internal + offset) x factor.
using ZelScaleFactorFn = double (*)(CZel_Setup* setup, const char* unit, const char* name);
using ZelScaleOffsetFn = double (*)(CZel_Setup* setup, const char* unit);

enum class ZelStorageType { Double, Int16, UInt16, Int32, UInt32 };

// Text used in setup files ("double", "int16", ...); false when the text names no type.
bool ParseStorageType(std::string_view text, ZelStorageType& type);
const char* StorageTypeName(ZelStorageType type);
// The value as the type holds it: integers rounded to nearest and saturated.
double StoreAs(ZelStorageType type, double value);

// What parameters and live variables share: a name, a value kept in internal units in a
// storage type, and a unit that gives the base unit through the plug-in's scales.
class CZel_Quantity {
 public:
  CZel_Quantity(const CZel_Quantity&) = delete;
  CZel_Quantity& operator=(const CZel_Quantity&) = delete;
  virtual ~CZel_Quantity() = default;

  const std::string& GetName() const { return name_; }
  ZelStorageType GetType() const { return type_; }
  // True when base value and internal value are the same number (no plug-in scale).
  bool IsStoredInBaseUnit() const { return stored_in_base_; }

  // The base unit's name ("rad/s" for a quantity shown in "rpm").
  const char* GetUnitName() const;
  // The unit shown to the user.
  const CZel_Unit& GetSelectedUnit() const { return *unit_; }
  int GetUnitType() const { return unit_->GetUnitType(); }
  // Selects the unit shown; the unit type follows. The internal value is kept. 0 when the
  // unit is not in the table. A name that the quantity's own kind has is taken in that kind
  // ("rad/s" keeps a pass band an angular frequency).
  int ChangeUnitType(const char* unit_name);
  // The unit of that name in the kind `unit_type`, for a name that several kinds share.
  int ChangeUnitType(const char* unit_name, int unit_type);

  double GetValueInInternalUnit() const { return internal_; }
  double GetValueInBaseUnit() const;
  // 1 when stored. A value that is not finite, or a base value that the current scale
  // cannot carry into internal units, is refused and reported; nothing changes.
  int SetValueInInternalUnit(double value);
  int SetValueInBaseUnit(double value);

  // The plug-in's factor and offset for this quantity's base unit and name.
  double ScaleFactor() const;
  double ScaleOffset() const;

 protected:
  CZel_Quantity(CZel_Setup& owner, std::string name, ZelStorageType type, bool stored_in_base,
                const CZel_Unit& unit)
      : owner_(&owner), name_(std::move(name)), type_(type), stored_in_base_(stored_in_base),
        unit_(&unit) {}
  CZel_Setup& Owner() const { return *owner_; }

 private:
  CZel_Setup* owner_;
  std::string name_;
  ZelStorageType type_;
  bool stored_in_base_;
  const CZel_Unit* unit_;
  double internal_ = 0.0;

  // The plug-in's factor and offset, kept while the setup has changed nothing that a scale
  // reads: a test reads thousands of samples, and each scale looks its inputs up by name.
  bool ScalesKept() const;
  void RefreshScales() const;
  mutable std::uint64_t scales_seen_ = 0;
  mutable const CZel_Unit* scales_unit_ = nullptr;
  mutable double factor_ = 1.0;
  mutable double offset_ = 0.0;
};

class CZel_Parameter : public CZel_Quantity {
 public:
  double GetMinInBaseUnit() const { return min_; }
  double GetMaxInBaseUnit() const { return max_; }
  // Stored as given (so an inverted range can exist, as the range setter expects); a
  // bound that is NaN is refused. Infinite bounds mean no bound.
  int SetMinInBaseUnit(double value);
  int SetMaxInBaseUnit(double value);

  // A value typed by a person: refused outside [min, max]. Empty on success, else the
  // message that says why.
  std::string SetUserValueInBaseUnit(double value);
  std::string SetUserValueInInternalUnit(double value);

  // Sends the internal value to the attached drive; 1 without a drive.
  int WriteToChip();

 private:
  friend class CZel_Setup;
  using CZel_Quantity::CZel_Quantity;
  double min_ = -std::numeric_limits<double>::infinity();
  double max_ = std::numeric_limits<double>::infinity();
};

class CZel_Variable : public CZel_Quantity {
 public:
  // Through the communication seam (host/zel_comm.h). Without a drive attached the
  // variable keeps the last value written or read.
  int ReadFromChip();
  int WriteToChip();

 private:
  friend class CZel_Setup;
  using CZel_Quantity::CZel_Quantity;
};

class CZel_Parameters {
 public:
  int GetParametersCount() const { return static_cast<int>(items_.size()); }
  CZel_Parameter* operator[](int index) const {
    return index >= 0 && index < GetParametersCount() ? items_[index].get() : nullptr;
  }

 private:
  friend class CZel_Setup;
  std::vector<std::unique_ptr<CZel_Parameter>> items_;
};

// One output port of the drive: the pin it drives and how it drives it. A sourcing (PNP)
// output switches the load to the logic supply, a sinking (NPN) one to ground; an inverted
// port drives the opposite level for the same logical state.
enum class ZelOutputDrive { Sink, Source };
struct ZelIOOutput {
  int pin = 0;
  ZelOutputDrive drive = ZelOutputDrive::Sink;
  bool inverted = false;
  bool operator==(const ZelIOOutput&) const = default;
};

struct ZelIdentity {
  std::string description;
  std::string product_id;
  std::string firmware_id;
  std::string application_id;
  std::uint16_t e2rom_size_words = 0;
};

class CZel_Setup {
 public:
  CZel_Setup() = default;
  CZel_Setup(const CZel_Setup&) = delete;
  CZel_Setup& operator=(const CZel_Setup&) = delete;

  // --- building (loader, tests) ---
  struct QuantityDesc {
    std::string name;
    ZelStorageType type = ZelStorageType::Double;
    bool stored_in_base = true;
    std::string unit;
    double value = 0.0;
    double min = -std::numeric_limits<double>::infinity();
    double max = std::numeric_limits<double>::infinity();
    int unit_type = -1;  // the kind of `unit`, for a name that several share; -1: the first
  };
  // Empty on success, else why the entry was refused (duplicate name, unknown unit, value
  // or range not usable).
  std::string AddParameter(const QuantityDesc& desc);
  std::string AddVariable(const QuantityDesc& desc);

  void SetScaleFunctions(ZelScaleFactorFn factor, ZelScaleOffsetFn offset) {
    scale_factor_ = factor;
    scale_offset_ = offset;
    ++scales_generation_;
  }
  double GetScaleFactor(const char* unit, const char* name) {
    return scale_factor_ ? scale_factor_(this, unit, name) : 1.0;
  }
  double GetScaleOffset(const char* unit) {
    return scale_offset_ ? scale_offset_(this, unit) : 0.0;
  }
  // A parameter that the scales read must be kept in base units, or its own scale would
  // read it again without end. Empty when none breaks this, else "/parameters/N/storage:
  // why" for the first that does. Needs the scale functions.
  std::string CheckScaleInputs();

  // --- parameters ---
  // Reports a missing name (unless the host's reports are off): the caller needs it.
  CZel_Parameter* FindParameter(std::string_view name) const;
  // A name the setup may lack: its absence is an answer, so nothing is reported.
  CZel_Parameter* FindOptionalParameter(std::string_view name) const;
  double GetParameterValueInBaseUnit(std::string_view name) const;
  double GetParameterValueInInternalUnit(std::string_view name) const;
  int SetParameterValueInBaseUnit(std::string_view name, double value);
  int SetParameterValueInInternalUnit(std::string_view name, double value);
  const CZel_Parameters& GetParameters() const { return parameters_; }

  // --- live variables ---
  CZel_Variable* FindVariable(std::string_view name, int report_missing = 1) const;
  const std::vector<std::unique_ptr<CZel_Variable>>& GetVariables() const { return variables_; }

  // --- options ---
  // Integer value of the option text (leading number), 0 when absent or not a number.
  int GetIntOption(std::string_view name) const;
  std::string GetOptionNoError(std::string_view name) const;
  bool HasOption(std::string_view name) const;
  void SetOption(std::string_view name, std::string_view text);
  void ClearOption(std::string_view name);
  // Options in the order they were first set, with their original spelling.
  std::vector<std::pair<std::string, std::string>> GetOptions() const;

  // --- identity ---
  const std::string& GetDescription() const { return identity_.description; }
  void SetDescription(std::string text) { identity_.description = std::move(text); }
  const std::string& GetProductID() const { return identity_.product_id; }
  void SetProductID(std::string text) { identity_.product_id = std::move(text); }
  const std::string& GetFirmwareID() const { return identity_.firmware_id; }
  // 1 when taken; a firmware ID is at most 32 letters, digits, '.', '-' or '_'.
  int SetFirmwareID(std::string text);
  const std::string& GetUserAppID() const { return identity_.application_id; }
  void SetUserAppID(std::string text) { identity_.application_id = std::move(text); }
  std::uint16_t GetE2ROMSize() const { return identity_.e2rom_size_words; }
  void SetE2ROMSize(std::uint16_t words) { identity_.e2rom_size_words = words; }
  const ZelIdentity& GetIdentity() const { return identity_; }
  // What the setup was loaded from, as a record names it: its file, or the bundled drive.
  // Not part of the file; empty for a setup built in memory.
  const std::string& GetSourceName() const { return source_name_; }
  void SetSourceName(std::string name) { source_name_ = std::move(name); }

  const CZel_Units& GetUnits() const { return ZelUnitTable(); }

  // --- I/O ---
  // The drive's I/O pins that can serve as outputs, by port: the first is port 0. A drive
  // that lists none has no output the user can pick.
  const std::vector<int>& GetIOOutputPins() const { return io_output_pins_; }
  // Pins with the default electrical kind (sinking, not inverted).
  void SetIOOutputPins(std::vector<int> pins);
  const std::vector<ZelIOOutput>& GetIOOutputs() const { return io_outputs_; }
  void SetIOOutputs(std::vector<ZelIOOutput> outputs);

 private:
  std::string CheckNewQuantity(const QuantityDesc& desc, const CZel_Unit*& unit) const;

  CZel_Parameters parameters_;
  zel::NameMap<CZel_Parameter*> parameter_index_;
  std::vector<std::unique_ptr<CZel_Variable>> variables_;
  zel::NameMap<CZel_Variable*> variable_index_;
  struct OptionEntry {
    std::string name;
    std::string text;
    std::size_t order;
  };
  zel::NameMap<OptionEntry> options_;
  std::size_t next_option_order_ = 0;
  ZelIdentity identity_;
  std::string source_name_;
  std::vector<int> io_output_pins_;  // the pins of io_outputs_, for the lookups by port
  std::vector<ZelIOOutput> io_outputs_;
  ZelScaleFactorFn scale_factor_ = nullptr;
  ZelScaleOffsetFn scale_offset_ = nullptr;

  // While a scale is being computed, a quantity in internal units that is read is a scale
  // input in the wrong storage; it reads as NaN instead of recursing.
  friend class CZel_Quantity;
  int scale_depth_ = 0;
  const CZel_Quantity* misplaced_scale_input_ = nullptr;
  bool probing_scale_inputs_ = false;
  // Counts the changes that can move a scale: the scale functions, the quantities, the
  // values kept in base units (the only ones a scale may read) and the options.
  std::uint64_t scales_generation_ = 1;
};

// A test converts thousands of samples: the scales a quantity keeps are read without a call.
inline bool CZel_Quantity::ScalesKept() const {
  return scales_seen_ == owner_->scales_generation_ && scales_unit_ == unit_;
}

inline double CZel_Quantity::ScaleFactor() const {
  if (stored_in_base_) return 1.0;
  if (!ScalesKept()) RefreshScales();
  return factor_;
}

inline double CZel_Quantity::ScaleOffset() const {
  if (stored_in_base_) return 0.0;
  if (!ScalesKept()) RefreshScales();
  return offset_;
}

// --- free functions of the host ---

// Full-scale count of the drive's converter. The firmware left-aligns converter results in
// 16 bits, so an N-count converter (`ADCResolution`) tops out at 65536 - 65536 / N.
unsigned Compute_ADCMaxValue(CZel_Setup* setup);
// The same for a converter of `counts` counts; a count outside 2..65536 gives 65535.
unsigned ZelAdcMaxOfResolution(double counts);
double RoundDecimalValue(double x, int digits);
double TG_FRound(double x);
int PositiveModulo(int a, int b);

// The drive's output pins by the port number the user picks, as the setup lists them; -1
// when the port or pin is not one of them.
int GetIOPinFromPort(const CZel_Setup* setup, int port);
int GetIOPortFromPin(const CZel_Setup* setup, int pin);
int GetIOPortCount(const CZel_Setup* setup);
