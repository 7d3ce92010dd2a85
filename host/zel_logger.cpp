#include "host/zel_logger.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "host/zel_errors.h"
#include "host/zel_file.h"
#include "host/zel_format.h"
#include "host/zel_setup.h"

namespace {

std::int32_t Int32At(const std::uint8_t* p) {
  const std::uint32_t u = static_cast<std::uint32_t>(zel_msg::Word(p)) |
                          (static_cast<std::uint32_t>(zel_msg::Word(p + 2)) << 16);
  std::int32_t v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

// The next step of the 1-2-5 series above (steps > 0) or below (steps < 0) a scale.
double Step125(double scale, int steps) {
  if (!(scale > 0.0)) scale = 1.0;
  const double decade = std::pow(10.0, std::floor(std::log10(scale) + 1e-9));
  const double mantissas[] = {1.0, 2.0, 5.0};
  int index = 0;
  for (int i = 0; i < 3; ++i) {
    if (scale >= mantissas[i] * decade * (1 - 1e-9)) index = i;
  }
  long long position = static_cast<long long>(std::lround(std::log10(decade))) * 3 + index + steps;
  const long long exponent = position >= 0 ? position / 3 : -((-position + 2) / 3);
  const int m = static_cast<int>(position - exponent * 3);
  return mantissas[m] * std::pow(10.0, static_cast<double>(exponent));
}

}  // namespace

// ---- channels ------------------------------------------------------------------------------

int CZel_Logger::AddVariable(const char* name, int enabled) {
  if (!name || !*name) return 0;
  CZel_Variable* variable = setup_->FindVariable(name, 0);
  if (!variable) {
    CZel_Comm::SetLastErrorText(std::string("the setup has no variable \"") + name + "\" to log");
    if (g_bShowErrors) ZelReportError(CZel_Comm::GetLastErrorText());
    return 0;
  }
  if (enabled) channels_.push_back({variable->GetName(), variable});
  return 1;
}

std::string CZel_Logger::GetChannelName(int channel) const {
  if (channel == 0) return "time";
  if (channel < 1 || channel > GetChannelCount()) return {};
  return channels_[channel - 1].name;
}

std::vector<std::string> CZel_Logger::VariableNames() const {
  std::vector<std::string> names;
  for (const Channel& c : channels_) names.push_back(c.name);
  return names;
}

double CZel_Logger::ToBase(const Channel& channel, double internal) const {
  return (internal + channel.variable->ScaleOffset()) * channel.variable->ScaleFactor();
}

int CZel_Logger::WordsPerPoint() const {
  int words = 0;
  for (const Channel& c : channels_) {
    const ZelStorageType t = c.variable->GetType();
    words += t == ZelStorageType::Int16 || t == ZelStorageType::UInt16 ? 1 : 2;
  }
  return words;
}

// ---- data logger ---------------------------------------------------------------------------

int CZel_SingleAxisLogger::ChangeSettings(int points, int log_type, int divider) {
  if (points < 1 || divider < 1 ||
      (log_type != ZelLogRequest::kSlowLoop && log_type != ZelLogRequest::kFastLoop))
    return 0;
  points_ = points;
  log_type_ = log_type;
  divider_ = divider;
  return 1;
}

int CZel_SingleAxisLogger::CorrectPointsNo() {
  CZel_DriveLink* link = CZel_Comm::GetLink();
  const int words = WordsPerPoint();
  if (link && words > 0) points_ = std::max(1, std::min(points_, link->LogCapacityWords() / words));
  return points_;
}

int CZel_SingleAxisLogger::Arm(CZel_DriveLink& link) {
  uploading_ = false;
  data_ = {};
  read_ = 0;
  recorded_ = 0;
  plot_begun_ = false;
  uploaded_whole_ = false;
  if (channels_.empty()) {
    CZel_Comm::SetLastErrorText("the data logger has no variables");
    return 0;
  }
  ZelLogRequest request{VariableNames(), points_, log_type_, divider_};
  if (!link.StartLog(request)) {
    CZel_Comm::SetLastErrorText(link.LastError());
    return 0;
  }
  return 1;
}

bool CZel_SingleAxisLogger::FetchBlock(CZel_DriveLink& link, bool look_again) {
  const std::size_t had = data_.points.size();
  if (!link.UploadLogBlock(data_, look_again, recorded_)) {
    CZel_Comm::SetLastErrorText(link.LastError());
    return false;
  }
  for (std::size_t k = had; k < data_.points.size(); ++k) {
    if (data_.points[k].size() != channels_.size()) {
      data_.points.resize(had);
      CZel_Comm::SetLastErrorText("the uploaded log does not match the logger's variables");
      return false;
    }
  }
  return true;
}

void CZel_SingleAxisLogger::ChooseTimeUnit(std::size_t points) {
  if (!located_) return;
  // Steps of a few milliseconds read best in ms; a long profile in s.
  const double span_s = static_cast<double>(points) * data_.period_s;
  const double factor = span_s > 2.0 ? 1.0 : 1000.0;
  if (plot_begun_ && factor == time_factor_) return;
  time_factor_ = factor;
  document_.SetChannelUnit(0, time_factor_ == 1.0 ? "s" : "ms");
  document_.ClearPoints();
  plot_begun_ = true;
  std::vector<double> point(channels_.size() + 1);
  for (std::size_t k = 0; k < read_; ++k) {
    for (int ch = 0; ch <= GetChannelCount(); ++ch) point[ch] = GetValue(k, ch);
    AddPlotPoint(point.data());
  }
}

int CZel_SingleAxisLogger::TakeLoggedPoints(std::size_t& recorded, std::size_t& asked,
                                            const std::function<void()>& on_point) {
  CZel_DriveLink* link = CZel_Comm::GetLink();
  if (!link || uploading_ || uploaded_whole_) return 0;
  CZel_Comm::Synchronize();
  if (!link->LoggedPoints(recorded, asked)) return 0;
  if (recorded == 0) return 1;
  // What this look saw, no more: a log that grows as fast as it is read must not keep the
  // window from its other work.
  while (data_.points.size() < recorded) {
    const std::size_t had = data_.points.size();
    if (!FetchBlock(*link, false)) return 0;
    if (data_.points.size() == had) break;
  }
  if (!plot_begun_) ChooseTimeUnit(asked);
  while (read_ < data_.points.size()) {
    TakePoint(nullptr);
    if (on_point) on_point();
  }
  return 1;
}

int CZel_SingleAxisLogger::BeginUploadData() {
  CZel_DriveLink* link = CZel_Comm::GetLink();
  if (!link) {
    CZel_Comm::SetLastErrorText("no drive is connected");
    return 0;
  }
  CZel_Comm::Synchronize();
  if (uploaded_whole_) {
    data_ = {};
    read_ = 0;
    plot_begun_ = false;
    uploaded_whole_ = false;
  }
  if (!FetchBlock(*link, true)) return 0;
  uploading_ = true;
  ChooseTimeUnit(recorded_);
  return 1;
}

void CZel_SingleAxisLogger::TakePoint(double* values) {
  std::vector<double>& point = read_point_;
  point.resize(channels_.size() + 1);
  point[0] = static_cast<double>(read_) * data_.period_s;
  for (std::size_t c = 0; c < channels_.size(); ++c)
    point[c + 1] = ToBase(channels_[c], data_.points[read_][c]);
  if (values) std::copy(point.begin(), point.end(), values);
  if (located_) AddPlotPoint(point.data());
  ++read_;
}

int CZel_SingleAxisLogger::ReadPoint(double* values) {
  if (!uploading_) return 0;
  if (read_ >= data_.points.size()) {
    CZel_DriveLink* link = CZel_Comm::GetLink();
    if (read_ < recorded_ && link) FetchBlock(*link, false);
    if (read_ >= data_.points.size()) {
      uploading_ = false;
      uploaded_whole_ = read_ >= recorded_;
      return 0;
    }
  }
  TakePoint(values);
  return 1;
}

void CZel_SingleAxisLogger::LocateItems() {
  if (located_) return;
  document_.AddChannel("Time", "ms");
  for (const Channel& c : channels_)
    document_.AddChannel(c.name, c.variable->GetSelectedUnit().GetName());
  located_ = true;
}

void CZel_SingleAxisLogger::AddPlotPoint(const double* base_values) {
  std::vector<double>& shown = shown_point_;
  shown.resize(channels_.size() + 1);
  shown[0] = base_values[0] * time_factor_;
  for (std::size_t c = 0; c < channels_.size(); ++c)
    shown[c + 1] = channels_[c].variable->GetSelectedUnit().FromBase(base_values[c + 1]);
  document_.AddPoint(shown);
}

int CZel_SingleAxisLogger::EndUploadData() {
  uploading_ = false;
  return 1;
}

double CZel_SingleAxisLogger::GetValue(std::size_t point, int channel) const {
  if (point >= read_ || channel < 0 || channel > GetChannelCount()) return 0.0;
  if (channel == 0) return static_cast<double>(point) * data_.period_s;
  return ToBase(channels_[channel - 1], data_.points[point][channel - 1]);
}

namespace {
// A live variable's column: its base unit, as its values are written.
std::string ColumnName(const CZel_Setup& setup, const std::string& variable) {
  const CZel_Variable* v = nullptr;
  {
    ZelQuietErrors quiet;
    v = setup.FindVariable(variable, 0);
  }
  return ZelCsvHeader(variable, v ? v->GetUnitName() : "");
}
}  // namespace

std::string CZel_SingleAxisLogger::CsvText() const {
  std::string text = ZelCsvHeader("Time", "s");
  for (const Channel& c : channels_) text += "," + ColumnName(GetSetup(), c.name);
  text += '\n';
  char number[32];
  for (std::size_t k = 0; k < read_; ++k) {
    for (int ch = 0; ch <= GetChannelCount(); ++ch) {
      std::snprintf(number, sizeof number, ch ? ",%.10g" : "%.10g", GetValue(k, ch));
      text += number;
    }
    text += '\n';
  }
  return text;
}

int CZel_SingleAxisLogger::SaveGraph(const char* base_name) const {
  if (!base_name || !*base_name) return 0;
  const std::string error = ZelWriteFileAtomically(std::string(base_name) + ".csv", CsvText());
  if (!error.empty()) {
    CZel_Comm::SetLastErrorText(error);
    return 0;
  }
  return 1;
}

// ---- scope logger --------------------------------------------------------------------------

CZel_ScopeLogger::CZel_ScopeLogger(CZel_Setup& setup, CZel_CoffFormat* coff)
    : CZel_Logger(setup, coff) {}

int CZel_ScopeLogger::ChangeSettings(double window_s, int mode, int slope,
                                     const char* trigger_variable, double level,
                                     double pre_percent) {
  if (!(window_s > 0.0) || !std::isfinite(window_s) || !std::isfinite(level) ||
      !(pre_percent >= 0.0 && pre_percent <= 100.0) ||
      (mode != kAuto && mode != kNormal && mode != kSingle))
    return 0;
  window_s_ = window_s;
  mode_ = mode;
  slope_ = slope ? 1 : 0;
  trigger_ = trigger_variable ? trigger_variable : "";
  level_ = level;
  pre_percent_ = pre_percent;
  return 1;
}

int CZel_ScopeLogger::RescaleVariable(const char* name, const char* unit, double per_division,
                                      double offset) {
  if (!name || !std::isfinite(per_division) || !std::isfinite(offset) || per_division <= 0.0)
    return 0;
  double factor = 1.0;
  if (unit && *unit) {
    const CZel_Unit* u = ZelUnitTable().FindUnit(unit);
    if (!u) return 0;
    factor = u->GetFactorToBase();
  }
  for (std::size_t c = 0; c < channels_.size(); ++c) {
    if (!zel::NamesEqual(channels_[c].name, name)) continue;
    scales_.resize(channels_.size(), 1.0);
    offsets_.resize(channels_.size(), 0.0);
    scales_[c] = per_division * factor;
    offsets_[c] = offset * factor;
    return 1;
  }
  return 0;
}

int CZel_ScopeLogger::ChangeChannelScale(int channel, int steps) {
  if (channel < 1 || channel > GetChannelCount()) return 0;
  scales_.resize(channels_.size(), 1.0);
  offsets_.resize(channels_.size(), 0.0);
  scales_[channel - 1] = Step125(scales_[channel - 1], steps);
  return 1;
}

double CZel_ScopeLogger::GetChannelScale(int channel) const {
  if (channel < 1 || channel > static_cast<int>(scales_.size())) return 1.0;
  return scales_[channel - 1];
}

void CZel_ScopeLogger::ResetToDefaults() {
  EndUploadData();
  RemoveAllVariables();
  scales_.clear();
  offsets_.clear();
  window_s_ = 1.0;
  mode_ = kAuto;
  slope_ = 1;
  trigger_.clear();
  level_ = 0.0;
  pre_percent_ = 0.0;
}

std::string CZel_ScopeLogger::SettingsText() const {
  std::ostringstream out;
  out.precision(17);
  out << "window=" << window_s_ << ";mode=" << mode_ << ";slope=" << slope_
      << ";trigger=" << trigger_ << ";level=" << level_ << ";pre=" << pre_percent_ << ";vars=";
  for (std::size_t c = 0; c < channels_.size(); ++c) {
    out << (c ? "|" : "") << channels_[c].name;
    if (c < scales_.size()) out << "@" << scales_[c] << "@" << offsets_[c];
  }
  return out.str();
}

int CZel_ScopeLogger::SaveSettingsToSetupOption(const char* option) const {
  if (!option || !*option) return 0;
  GetSetup().SetOption(option, SettingsText());
  return 1;
}

int CZel_ScopeLogger::LoadSettingsFromSetupOption(const char* option) {
  if (!option) return 0;
  const std::string text = GetSetup().GetOptionNoError(option);
  if (text.empty()) return 0;
  double window = 0, level = 0, pre = 0;
  int mode = 0, slope = 1;
  std::string trigger, vars;
  std::istringstream in(text);
  std::string item;
  try {
    while (std::getline(in, item, ';')) {
      const auto eq = item.find('=');
      if (eq == std::string::npos) return 0;
      const std::string key = item.substr(0, eq), value = item.substr(eq + 1);
      if (key == "window") window = std::stod(value);
      else if (key == "mode") mode = std::stoi(value);
      else if (key == "slope") slope = std::stoi(value);
      else if (key == "trigger") trigger = value;
      else if (key == "level") level = std::stod(value);
      else if (key == "pre") pre = std::stod(value);
      else if (key == "vars") vars = value;
      else return 0;
    }
  } catch (const std::exception&) {
    return 0;
  }
  std::vector<Channel> channels;
  std::vector<double> scales, offsets;
  std::istringstream list(vars);
  while (std::getline(list, item, '|')) {
    const auto at = item.find('@');
    const std::string name = item.substr(0, at);
    CZel_Variable* variable = GetSetup().FindVariable(name, 0);
    if (!variable) return 0;
    channels.push_back({variable->GetName(), variable});
    double scale = 1.0, offset = 0.0;
    if (at != std::string::npos &&
        std::sscanf(item.c_str() + at + 1, "%lf@%lf", &scale, &offset) != 2)
      return 0;
    scales.push_back(scale);
    offsets.push_back(offset);
  }
  if (!ChangeSettings(window, mode, slope, trigger.c_str(), level, pre)) return 0;
  channels_ = std::move(channels);
  scales_ = std::move(scales);
  offsets_ = std::move(offsets);
  return 1;
}

int CZel_ScopeLogger::Arm(CZel_DriveLink& link) {
  if (channels_.empty()) {
    CZel_Comm::SetLastErrorText("the scope logger has no variables");
    return 0;
  }
  const std::size_t width = channels_.size() + 1;
  ring_.assign(static_cast<std::size_t>(points_no_) * width, 0.0);
  write_ = filled_ = last_first_ = last_count_ = 0;
  first_frame_ = true;
  frames_lost_ = 0;
  samples_seen_ = 0;
  have_last_ = false;
  sweep_done_ = false;
  trigger_channel_ = -1;
  for (std::size_t c = 0; c < channels_.size(); ++c) {
    if (!trigger_.empty() && zel::NamesEqual(channels_[c].name, trigger_))
      trigger_channel_ = static_cast<int>(c) + 1;
  }
  // Without a trigger variable that is logged, the view rolls.
  triggered_ = mode_ == kAuto || trigger_channel_ < 0;
  // The trigger point itself is always in the window, even with everything before it.
  pre_points_ = std::min(static_cast<int>(std::lround(points_no_ * pre_percent_ / 100.0)),
                         points_no_ - 1);
  armed_points_ = 0;
  after_trigger_ = 0;
  ZelStreamRequest request{VariableNames(), window_s_ / points_no_, 8};
  if (!link.StartStream(request)) {
    CZel_Comm::SetLastErrorText(link.LastError());
    return 0;
  }
  uploading_ = true;
  return 1;
}

void CZel_ScopeLogger::Take(const double* point) {
  const int width = GetChannelCount() + 1;
  const double time = static_cast<double>(samples_seen_++) * period_s_;
  bool fire = false;
  if (trigger_channel_ > 0) {
    const double v = point[trigger_channel_];
    if (have_last_)
      fire = slope_ ? (last_trigger_value_ < level_ && v >= level_)
                    : (last_trigger_value_ > level_ && v <= level_);
    last_trigger_value_ = v;
    have_last_ = true;
  }
  if (!triggered_) {
    if (!fire) {
      // Armed: the ring keeps the newest points as the pre-trigger part of the next sweep.
      std::copy(point + 1, point + width, ring_.begin() + write_ * width + 1);
      ring_[static_cast<std::size_t>(write_) * width] = time;
      write_ = (write_ + 1) % points_no_;
      armed_points_ = std::min(armed_points_ + 1, points_no_);
      return;
    }
    // Rotate so that the sweep starts at position 0 with its pre-trigger points, and the
    // trigger point follows them. A trigger soon after arming has fewer points before it than
    // asked: only those seen since arming are shown, never older sweeps or empty slots.
    const int pre = std::min(pre_points_, armed_points_);
    std::vector<double> sweep(ring_.size(), 0.0);
    for (int k = 0; k < pre; ++k) {
      const int from = ((write_ - pre + k) % points_no_ + points_no_) % points_no_;
      std::copy(ring_.begin() + from * width, ring_.begin() + (from + 1) * width,
                sweep.begin() + k * width);
    }
    ring_.swap(sweep);
    triggered_ = true;
    write_ = pre;
    filled_ = pre;
    after_trigger_ = 0;
    last_first_ = 0;
    last_count_ = pre;
  }
  std::copy(point + 1, point + width, ring_.begin() + write_ * width + 1);
  ring_[static_cast<std::size_t>(write_) * width] = time;
  // A frame longer than the window redraws the whole window, starting at its oldest point.
  if (last_count_ == 0) last_first_ = write_;
  if (last_count_ < points_no_) ++last_count_;
  else last_first_ = (last_first_ + 1) % points_no_;
  write_ = (write_ + 1) % points_no_;
  filled_ = std::min(filled_ + 1, points_no_);
  if (mode_ == kAuto || trigger_channel_ < 0) return;
  if (++after_trigger_ >= points_no_ - pre_points_ || RepeatingSweepTimeIsUp()) {
    if (mode_ == kSingle) {
      sweep_done_ = true;
    } else {
      triggered_ = false;
      armed_points_ = 0;
    }
  }
}

// A drive that streams more coarsely than asked fills the ring over more than the window. A
// repeating sweep that ran on until the ring was full would still be running when its next
// trigger came (a sweep as long as the cycle then showed only every other cycle): it ends
// once the window's time after the trigger has passed, and the scope is armed for the next.
bool CZel_ScopeLogger::RepeatingSweepTimeIsUp() const {
  if (mode_ != kNormal) return false;
  const double after_s = window_s_ * (points_no_ - pre_points_) / points_no_;
  return after_trigger_ * period_s_ >= after_s * (1.0 - 1e-9);
}

int CZel_ScopeLogger::OnFrameReceive(std::size_t bytes, const void* data) {
  if (!uploading_ || sweep_done_ || !data || bytes < kZelFrameHeaderBytes) return 0;
  const auto* p = static_cast<const std::uint8_t*>(data);
  const std::uint16_t sequence = zel_msg::Word(p);
  const std::size_t points = zel_msg::Word(p + 2);
  const std::uint32_t period_ns = static_cast<std::uint32_t>(Int32At(p + 4));
  const std::size_t channels = channels_.size();
  if (bytes != kZelFrameHeaderBytes + points * channels * 4 || period_ns == 0) return 0;
  if (!first_frame_ && sequence != next_sequence_)
    frames_lost_ += static_cast<std::uint16_t>(sequence - next_sequence_);
  first_frame_ = false;
  next_sequence_ = static_cast<std::uint16_t>(sequence + 1);
  period_s_ = period_ns * 1e-9;
  last_count_ = 0;
  last_first_ = write_;
  std::vector<double> point(channels + 1);
  const std::uint8_t* values = p + kZelFrameHeaderBytes;
  for (std::size_t k = 0; k < points && !sweep_done_; ++k) {
    for (std::size_t c = 0; c < channels; ++c)
      point[c + 1] = ToBase(channels_[c], Int32At(values + (k * channels + c) * 4));
    Take(point.data());
  }
  return 1;
}

int CZel_ScopeLogger::OnMessage(const std::uint8_t* message, std::size_t bytes) {
  zel_msg::View view;
  if (!zel_msg::Parse(message, bytes, view) || view.code != zel_msg::kLoggerFrame) return 0;
  return OnFrameReceive(view.data_bytes, view.data);
}

void CZel_ScopeLogger::GetPointsToBeDrawn(int& first, int& count) const {
  first = last_first_;
  count = last_count_;
}

double CZel_ScopeLogger::GetValue(int point, int channel) const {
  const int width = GetChannelCount() + 1;
  if (point < 0 || point >= points_no_ || channel < 0 || channel >= width || ring_.empty())
    return 0.0;
  return ring_[static_cast<std::size_t>(point) * width + channel];
}

int CZel_ScopeLogger::EndUploadData() {
  if (uploading_) {
    if (CZel_DriveLink* link = CZel_Comm::GetLink()) link->StopStream();
  }
  uploading_ = false;
  return 1;
}

int CZel_ScopeLogger::DoGracefulStop() {
  if (!uploading_) return 1;
  CZel_Comm::Synchronize();
  CZel_DriveLink* link = CZel_Comm::GetLink();
  const bool drained = !link || (!link->ProgramRunning() && link->PendingMessageCount() == 0);
  if (!sweep_done_ && !drained) return 0;
  EndUploadData();
  return 1;
}
