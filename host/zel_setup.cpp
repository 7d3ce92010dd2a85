#include "host/zel_setup.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

struct StorageRow {
  ZelStorageType type;
  const char* name;
  double lowest;
  double highest;
};

constexpr StorageRow kStorageRows[] = {
    {ZelStorageType::Double, "double", -std::numeric_limits<double>::max(),
     std::numeric_limits<double>::max()},
    {ZelStorageType::Int16, "int16", -32768.0, 32767.0},
    {ZelStorageType::UInt16, "uint16", 0.0, 65535.0},
    {ZelStorageType::Int32, "int32", -2147483648.0, 2147483647.0},
    {ZelStorageType::UInt32, "uint32", 0.0, 4294967295.0},
};

const StorageRow& RowOf(ZelStorageType type) {
  for (const StorageRow& row : kStorageRows) {
    if (row.type == type) return row;
  }
  return kStorageRows[0];
}

std::string FormatNumber(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

void ReportNotFinite(const std::string& name, double value) {
  ZelReportError("\"" + name + "\": the value " + FormatNumber(value) +
                 " is not a finite number and was not stored");
}

}  // namespace

bool ParseStorageType(std::string_view text, ZelStorageType& type) {
  for (const StorageRow& row : kStorageRows) {
    if (zel::NamesEqual(text, row.name)) {
      type = row.type;
      return true;
    }
  }
  return false;
}

const char* StorageTypeName(ZelStorageType type) { return RowOf(type).name; }

double StoreAs(ZelStorageType type, double value) {
  const StorageRow& row = RowOf(type);
  if (type != ZelStorageType::Double) value = std::round(value);
  return std::clamp(value, row.lowest, row.highest);
}

// ---------------------------------------------------------------------------------------

const char* CZel_Quantity::GetUnitName() const {
  return ZelUnitTable().BaseUnitOfType(unit_->GetUnitType())->GetName().c_str();
}

int CZel_Quantity::ChangeUnitType(const char* unit_name) {
  const CZel_Unit* unit =
      unit_name ? ZelUnitTable().FindUnitPreferringType(unit_name, GetUnitType()) : nullptr;
  if (!unit) return ChangeUnitType(unit_name, -1);  // which reports it
  unit_ = unit;
  return 1;
}

int CZel_Quantity::ChangeUnitType(const char* unit_name, int unit_type) {
  const CZel_Units& table = ZelUnitTable();
  const CZel_Unit* unit = !unit_name       ? nullptr
                          : unit_type < 0 ? table.FindUnit(unit_name)
                                          : table.FindUnitOfType(unit_name, unit_type);
  if (!unit) {
    ZelReportError("\"" + name_ + "\": unknown unit \"" + (unit_name ? unit_name : "") + "\"" +
                   (unit_type < 0 ? "" : std::string(" of ") + ZelUnitTypeName(unit_type)));
    return 0;
  }
  unit_ = unit;
  return 1;
}

namespace {

class ScaleScope {
 public:
  explicit ScaleScope(int& depth) : depth_(depth) { ++depth_; }
  ~ScaleScope() { --depth_; }
  ScaleScope(const ScaleScope&) = delete;
  ScaleScope& operator=(const ScaleScope&) = delete;

 private:
  int& depth_;
};

}  // namespace

void CZel_Quantity::RefreshScales() const {
  if (ScalesKept()) return;
  ScaleScope scope(owner_->scale_depth_);
  factor_ = owner_->GetScaleFactor(GetUnitName(), name_.c_str());
  offset_ = owner_->GetScaleOffset(GetUnitName());
  scales_seen_ = owner_->scales_generation_;
  scales_unit_ = unit_;
}

double CZel_Quantity::GetValueInBaseUnit() const {
  if (stored_in_base_) return internal_;
  if (owner_->scale_depth_ > 0) {
    if (!owner_->misplaced_scale_input_) {
      owner_->misplaced_scale_input_ = this;
      if (!owner_->probing_scale_inputs_)
        ZelReportError("\"" + name_ + "\" is read by the scales but kept in internal units");
    }
    return std::numeric_limits<double>::quiet_NaN();
  }
  return (internal_ + ScaleOffset()) * ScaleFactor();
}

int CZel_Quantity::SetValueInInternalUnit(double value) {
  if (!std::isfinite(value)) {
    ReportNotFinite(name_, value);
    return 0;
  }
  const double stored = StoreAs(type_, value);
  if (stored_in_base_ && stored != internal_) ++owner_->scales_generation_;
  internal_ = stored;
  return 1;
}

int CZel_Quantity::SetValueInBaseUnit(double value) {
  if (!std::isfinite(value)) {
    ReportNotFinite(name_, value);
    return 0;
  }
  if (stored_in_base_) return SetValueInInternalUnit(value);
  const double factor = ScaleFactor();
  if (!std::isfinite(factor) || factor == 0.0) {
    ZelReportError("\"" + name_ + "\": the scale of unit \"" + GetUnitName() + "\" is " +
                   FormatNumber(factor) + " in this setup, so " + FormatNumber(value) +
                   " cannot be stored");
    return 0;
  }
  return SetValueInInternalUnit(value / factor - ScaleOffset());
}

// ---------------------------------------------------------------------------------------

int CZel_Parameter::SetMinInBaseUnit(double value) {
  if (std::isnan(value)) {
    ReportNotFinite(GetName(), value);
    return 0;
  }
  min_ = value;
  return 1;
}

int CZel_Parameter::SetMaxInBaseUnit(double value) {
  if (std::isnan(value)) {
    ReportNotFinite(GetName(), value);
    return 0;
  }
  max_ = value;
  return 1;
}

std::string CZel_Parameter::SetUserValueInBaseUnit(double value) {
  if (!std::isfinite(value)) return "\"" + GetName() + "\": the value is not a finite number";
  if (value < min_ || value > max_) {
    return "\"" + GetName() + "\": " + FormatNumber(value) + " is outside its range [" +
           FormatNumber(min_) + ", " + FormatNumber(max_) + "]" +
           (*GetUnitName() ? std::string(" ") + GetUnitName() : std::string());
  }
  if (!SetValueInBaseUnit(value)) return "\"" + GetName() + "\": the value could not be stored";
  return {};
}

std::string CZel_Parameter::SetUserValueInInternalUnit(double value) {
  if (!std::isfinite(value)) return "\"" + GetName() + "\": the value is not a finite number";
  const double base = IsStoredInBaseUnit() ? value : (value + ScaleOffset()) * ScaleFactor();
  if (!(base >= min_ && base <= max_)) {
    return "\"" + GetName() + "\": internal value " + FormatNumber(value) + " (" +
           FormatNumber(base) + " in base unit) is outside its range [" + FormatNumber(min_) +
           ", " + FormatNumber(max_) + "]";
  }
  SetValueInInternalUnit(value);
  return {};
}

// ---------------------------------------------------------------------------------------

std::string CZel_Setup::CheckNewQuantity(const QuantityDesc& desc, const CZel_Unit*& unit) const {
  if (desc.name.empty()) return "the name is empty";
  unit = desc.unit_type < 0 ? ZelUnitTable().FindUnit(desc.unit)
                            : ZelUnitTable().FindUnitOfType(desc.unit, desc.unit_type);
  if (!unit)
    return "unknown unit \"" + desc.unit + "\"" +
           (desc.unit_type < 0 ? "" : std::string(" of ") + ZelUnitTypeName(desc.unit_type));
  if (!std::isfinite(desc.value)) return "the value is not a finite number";
  if (std::isnan(desc.min) || std::isnan(desc.max)) return "the range is not a number";
  if (desc.min > desc.max) return "the minimum is above the maximum";
  return {};
}

std::string CZel_Setup::AddParameter(const QuantityDesc& desc) {
  ++scales_generation_;
  const CZel_Unit* unit = nullptr;
  std::string error = CheckNewQuantity(desc, unit);
  if (!error.empty()) return error;
  if (parameter_index_.Contains(desc.name)) return "duplicate parameter \"" + desc.name + "\"";
  auto p = std::unique_ptr<CZel_Parameter>(
      new CZel_Parameter(*this, desc.name, desc.type, desc.stored_in_base, *unit));
  p->SetValueInInternalUnit(desc.value);
  p->min_ = desc.min;
  p->max_ = desc.max;
  parameter_index_.Insert(desc.name, p.get());
  parameters_.items_.push_back(std::move(p));
  return {};
}

std::string CZel_Setup::AddVariable(const QuantityDesc& desc) {
  ++scales_generation_;
  const CZel_Unit* unit = nullptr;
  std::string error = CheckNewQuantity(desc, unit);
  if (!error.empty()) return error;
  if (variable_index_.Contains(desc.name)) return "duplicate variable \"" + desc.name + "\"";
  auto v = std::unique_ptr<CZel_Variable>(
      new CZel_Variable(*this, desc.name, desc.type, /*stored_in_base=*/false, *unit));
  v->SetValueInInternalUnit(desc.value);
  variable_index_.Insert(desc.name, v.get());
  variables_.push_back(std::move(v));
  return {};
}

std::string CZel_Setup::CheckScaleInputs() {
  // The probe reads every scale quietly: what it finds is returned, not reported.
  ZelQuietErrors quiet;
  misplaced_scale_input_ = nullptr;
  probing_scale_inputs_ = true;
  ++scales_generation_;  // every scale is computed again, not read from what it kept
  for (const auto& p : parameters_.items_) {
    if (misplaced_scale_input_) break;
    if (!p->IsStoredInBaseUnit()) p->GetValueInBaseUnit();
  }
  probing_scale_inputs_ = false;
  ++scales_generation_;  // nor are the probe's scales kept: they were read without reports
  const CZel_Quantity* found = misplaced_scale_input_;
  misplaced_scale_input_ = nullptr;
  if (!found) return {};
  for (std::size_t i = 0; i < parameters_.items_.size(); ++i) {
    if (parameters_.items_[i].get() == found)
      return "/parameters/" + std::to_string(i) + "/storage: \"" + found->GetName() +
             "\" is read by the scales, so \"storage\" must be \"base\"";
  }
  return {};
}

CZel_Parameter* CZel_Setup::FindOptionalParameter(std::string_view name) const {
  CZel_Parameter* const* found = parameter_index_.Find(name);
  return found ? *found : nullptr;
}

CZel_Parameter* CZel_Setup::FindParameter(std::string_view name) const {
  if (CZel_Parameter* found = FindOptionalParameter(name)) return found;
  if (g_bShowErrors) ZelReportError("parameter \"" + std::string(name) + "\" is not in the setup");
  return nullptr;
}

double CZel_Setup::GetParameterValueInBaseUnit(std::string_view name) const {
  const CZel_Parameter* p = FindParameter(name);
  return p ? p->GetValueInBaseUnit() : 0.0;
}

double CZel_Setup::GetParameterValueInInternalUnit(std::string_view name) const {
  const CZel_Parameter* p = FindParameter(name);
  return p ? p->GetValueInInternalUnit() : 0.0;
}

int CZel_Setup::SetParameterValueInBaseUnit(std::string_view name, double value) {
  CZel_Parameter* p = FindParameter(name);
  return p ? p->SetValueInBaseUnit(value) : 0;
}

int CZel_Setup::SetParameterValueInInternalUnit(std::string_view name, double value) {
  CZel_Parameter* p = FindParameter(name);
  return p ? p->SetValueInInternalUnit(value) : 0;
}

CZel_Variable* CZel_Setup::FindVariable(std::string_view name, int report_missing) const {
  if (CZel_Variable* const* found = variable_index_.Find(name)) return *found;
  if (report_missing && g_bShowErrors)
    ZelReportError("variable \"" + std::string(name) + "\" is not in the setup");
  return nullptr;
}

int CZel_Setup::GetIntOption(std::string_view name) const {
  const OptionEntry* entry = options_.Find(name);
  if (!entry) return 0;
  const std::string& text = entry->text;
  const char* first = text.data();
  const char* last = first + text.size();
  while (first < last && std::isspace(static_cast<unsigned char>(*first))) ++first;
  if (first < last && *first == '+') ++first;
  int value = 0;
  std::from_chars(first, last, value);
  return value;
}

std::string CZel_Setup::GetOptionNoError(std::string_view name) const {
  const OptionEntry* entry = options_.Find(name);
  return entry ? entry->text : std::string();
}

bool CZel_Setup::HasOption(std::string_view name) const { return options_.Contains(name); }

void CZel_Setup::SetOption(std::string_view name, std::string_view text) {
  // Every pass over the setup sets its options again, mostly to the text they hold: that
  // changes nothing a scale reads, so the scales that quantities keep stay.
  if (OptionEntry* entry = options_.Find(name)) {
    if (entry->text == text) return;
    ++scales_generation_;
    entry->text = std::string(text);
    return;
  }
  ++scales_generation_;
  options_.Insert(name, OptionEntry{std::string(name), std::string(text), next_option_order_++});
}

void CZel_Setup::ClearOption(std::string_view name) {
  if (!options_.Contains(name)) return;
  ++scales_generation_;
  options_.Erase(name);
}

std::vector<std::pair<std::string, std::string>> CZel_Setup::GetOptions() const {
  std::vector<const OptionEntry*> entries;
  options_.ForEach([&](const OptionEntry& entry) { entries.push_back(&entry); });
  std::sort(entries.begin(), entries.end(),
            [](const OptionEntry* a, const OptionEntry* b) { return a->order < b->order; });
  std::vector<std::pair<std::string, std::string>> out;
  for (const OptionEntry* e : entries) out.emplace_back(e->name, e->text);
  return out;
}

int CZel_Setup::SetFirmwareID(std::string text) {
  if (text.size() > 32) return 0;
  for (unsigned char c : text) {
    if (!std::isalnum(c) && c != '.' && c != '-' && c != '_') return 0;
  }
  identity_.firmware_id = std::move(text);
  return 1;
}

// ---------------------------------------------------------------------------------------

unsigned Compute_ADCMaxValue(CZel_Setup* setup) {
  if (!setup) return 0;
  return ZelAdcMaxOfResolution(setup->GetParameterValueInBaseUnit("ADCResolution"));
}

unsigned ZelAdcMaxOfResolution(double counts) {
  if (!(counts >= 2.0 && counts <= 65536.0)) return 65535u;
  const auto n = static_cast<unsigned>(counts);
  return 65536u - 65536u / n;
}

double RoundDecimalValue(double x, int digits) {
  const double scale = std::pow(10.0, digits);
  return std::round(x * scale) / scale;
}

double TG_FRound(double x) { return std::round(x); }

int PositiveModulo(int a, int b) {
  if (b <= 0) return 0;
  const int r = a % b;
  return r < 0 ? r + b : r;
}

void CZel_Setup::SetIOOutputPins(std::vector<int> pins) {
  std::vector<ZelIOOutput> outputs;
  for (int pin : pins) outputs.push_back({pin});
  SetIOOutputs(std::move(outputs));
}

void CZel_Setup::SetIOOutputs(std::vector<ZelIOOutput> outputs) {
  io_outputs_ = std::move(outputs);
  io_output_pins_.clear();
  for (const ZelIOOutput& o : io_outputs_) io_output_pins_.push_back(o.pin);
}

int GetIOPinFromPort(const CZel_Setup* setup, int port) {
  return port >= 0 && port < GetIOPortCount(setup) ? setup->GetIOOutputPins()[port] : -1;
}

int GetIOPortFromPin(const CZel_Setup* setup, int pin) {
  for (int port = 0; port < GetIOPortCount(setup); ++port) {
    if (setup->GetIOOutputPins()[port] == pin) return port;
  }
  return -1;
}

int GetIOPortCount(const CZel_Setup* setup) {
  return setup ? static_cast<int>(setup->GetIOOutputPins().size()) : 0;
}
