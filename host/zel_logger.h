#pragma once
// The host's two loggers. The data logger records in the drive during a run and uploads
// afterwards, point by point; the scope logger takes the frames that the drive streams as
// unsolicited messages and keeps the last window of points for an on-line view. Values
// leave both in the base units of the setup's variables.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/zel_comm.h"
#include "host/zel_graph.h"

class CZel_Setup;
class CZel_Variable;

class CZel_Logger {
 public:
  CZel_Logger(CZel_Setup& setup, CZel_CoffFormat* coff) : setup_(&setup), coff_(coff) {}
  virtual ~CZel_Logger() = default;
  CZel_Logger(const CZel_Logger&) = delete;
  CZel_Logger& operator=(const CZel_Logger&) = delete;

  // Adds a channel for a live variable of the setup; 0 when the setup has no such variable.
  int AddVariable(const char* name, int enabled = 1);
  void RemoveAllVariables() { channels_.clear(); }
  int GetChannelCount() const { return static_cast<int>(channels_.size()); }
  // Channel 0 is time; variables are channels 1 and up.
  std::string GetChannelName(int channel) const;

  CZel_Setup& GetSetup() const { return *setup_; }
  CZel_CoffFormat* GetCoff() const { return coff_; }

 protected:
  friend class CZel_Comm;
  // Sets the drive up for the run that is about to start.
  virtual int Arm(CZel_DriveLink& link) = 0;

  struct Channel {
    std::string name;
    CZel_Variable* variable;
  };
  std::vector<std::string> VariableNames() const;
  double ToBase(const Channel& channel, double internal) const;
  // Words a point of all channels takes in the drive's log memory.
  int WordsPerPoint() const;

  std::vector<Channel> channels_;

 private:
  CZel_Setup* setup_;
  CZel_CoffFormat* coff_;
};

class CZel_SingleAxisLogger : public CZel_Logger {
 public:
  using CZel_Logger::CZel_Logger;

  // Points to record, the loop to sample (1 slow, 2 fast) and a point every `divider`
  // samples. 0 when a value is out of its range.
  int ChangeSettings(int points, int log_type, int divider);
  int GetPointsNo() const { return points_; }
  int GetLogType() const { return log_type_; }
  int GetDivider() const { return divider_; }
  // Lowers the points so that they fit into the drive's log memory; the points kept.
  int CorrectPointsNo();

  // While the run records, where the drive can tell: brings the points it has logged so far
  // into the plot, as ReadPoint does, `on_point` after each; `recorded` and `asked` receive the
  // drive's count (as CZel_DriveLink::LoggedPoints). 0 where the drive cannot tell or did
  // not answer: the points then come with the upload.
  int TakeLoggedPoints(std::size_t& recorded, std::size_t& asked,
                       const std::function<void()>& on_point);
  // Takes a last look at the log once its run has ended. The points taken while it ran stay;
  // a log uploaded whole before is uploaded anew.
  int BeginUploadData();
  // Takes the next uploaded point into the logger, bringing the next block from the drive
  // when the ones at hand are read; `values` (if given) receives time and then one value per
  // channel. Nonzero while points remain; 0 too when a block did not come (then
  // GetPointsRead() < GetPointsUploaded(), with the reason in CZel_Comm::GetLastErrorText()).
  int ReadPoint(double* values);
  int EndUploadData();
  int UploadInProgress() const { return uploading_; }
  // Every point of the ended run has been read.
  bool UploadedWhole() const { return uploaded_whole_; }

  // The plot of the upload: time in ms (s for a log longer than 2 s), then one channel per
  // variable in the unit the setup shows it in. LocateItems names the channels; each point
  // that ReadPoint takes is added.
  CGraphDocument& GetGraphDocument() { return document_; }
  CGraphFilter* GetGraphFilter(int index = 0) { return document_.GetAt(index); }
  void LocateItems();

  // Points taken by ReadPoint so far, each time then channels, base units.
  std::size_t GetPointsRead() const { return read_; }
  // Points that the upload brings in all, read or not: what the drive recorded.
  std::size_t GetPointsUploaded() const { return std::max(recorded_, data_.points.size()); }
  double GetValue(std::size_t point, int channel) const;
  // The points read so far as CSV: a time column in seconds and one column per channel.
  std::string CsvText() const;
  // Writes CsvText() to "<baseName>.csv" through the atomic writer; 0 with the reason in
  // CZel_Comm::GetLastErrorText() when it could not.
  int SaveGraph(const char* base_name) const;

 protected:
  int Arm(CZel_DriveLink& link) override;

 private:
  int points_ = 1000;
  int log_type_ = ZelLogRequest::kSlowLoop;
  int divider_ = 1;
  bool uploading_ = false;
  void AddPlotPoint(const double* base_values);
  // Appends the drive's next block to data_; false with the reason set.
  bool FetchBlock(CZel_DriveLink& link, bool look_again);
  // The plot's time unit for a log of `points`: ms for a few seconds, s beyond; the points
  // drawn so far are drawn again when it changes.
  void ChooseTimeUnit(std::size_t points);
  void TakePoint(double* values);

  ZelLogData data_;
  std::size_t read_ = 0;
  std::size_t recorded_ = 0;       // the drive's count at the last look
  bool plot_begun_ = false;        // the plot holds this run's points
  bool uploaded_whole_ = false;    // every point of the ended run was read
  CGraphDocument document_;
  bool located_ = false;
  double time_factor_ = 1000.0;  // plot time per second
  // One point as read and as shown, kept from point to point of an upload.
  std::vector<double> read_point_, shown_point_;
};

class CZel_ScopeLogger : public CZel_Logger {
 public:
  enum Mode : int { kAuto = 1, kNormal = 2, kSingle = 4 };

  CZel_ScopeLogger(CZel_Setup& setup, CZel_CoffFormat* coff);

  // The window in seconds, trigger mode, slope (1 rising, 0 falling), trigger variable (empty
  // for none), level in the variable's base unit and the share of the window before the
  // trigger, in percent.
  int ChangeSettings(double window_s, int mode, int slope, const char* trigger_variable,
                     double level, double pre_percent);
  double GetWindow() const { return window_s_; }
  int GetMode() const { return mode_; }
  // Vertical scale of a channel: units per division and the offset, in `unit`.
  int RescaleVariable(const char* name, const char* unit, double per_division, double offset);
  // Moves a channel's scale `steps` steps along the 1-2-5 series (negative zooms in).
  int ChangeChannelScale(int channel, int steps);
  double GetChannelScale(int channel) const;
  void ResetToDefaults();

  int SaveSettingsToSetupOption(const char* option) const;
  // 1 when the option held settings that were taken.
  int LoadSettingsFromSetupOption(const char* option);

  int GetPointsNo() const { return points_no_; }

  // One frame's data (the message from byte 6). Positive when taken; 0 when the frame does
  // not fit the channels or arrives while no upload is in progress.
  int OnFrameReceive(std::size_t bytes, const void* data);
  // A whole message: code and length are checked before the data go to OnFrameReceive.
  int OnMessage(const std::uint8_t* message, std::size_t bytes);
  // The ring positions that the last frame filled.
  void GetPointsToBeDrawn(int& first, int& count) const;
  // Point `i` of the ring: channel 0 time, then the channels, base units.
  double GetValue(int point, int channel) const;
  int GetPointsFilled() const { return filled_; }

  int UploadInProgress() const { return uploading_; }
  // Nonzero once a single sweep has taken all its points: the window after the trigger. A
  // trigger soon after arming leaves fewer points before it, and the ring is not full then.
  int IsSweepDone() const { return sweep_done_; }
  int EndUploadData();
  // Nonzero once the run has ended: a single sweep is complete, or the program stopped and
  // every frame it sent has been taken. The stream is stopped then.
  int DoGracefulStop();
  int GetFramesLost() const { return frames_lost_; }

 protected:
  int Arm(CZel_DriveLink& link) override;

 private:
  void Take(const double* point);
  bool RepeatingSweepTimeIsUp() const;
  std::string SettingsText() const;

  int points_no_ = 500;
  double window_s_ = 1.0;
  int mode_ = kAuto;
  int slope_ = 1;
  std::string trigger_;
  double level_ = 0.0;
  double pre_percent_ = 0.0;
  std::vector<double> scales_;  // per channel: units per division
  std::vector<double> offsets_;

  // Run state.
  bool uploading_ = false;
  bool triggered_ = false;
  bool sweep_done_ = false;
  double period_s_ = 0.0;
  std::uint16_t next_sequence_ = 0;
  bool first_frame_ = true;
  int frames_lost_ = 0;
  long long samples_seen_ = 0;
  int trigger_channel_ = -1;
  double last_trigger_value_ = 0.0;
  bool have_last_ = false;
  int pre_points_ = 0;
  int armed_points_ = 0;  // seen since the last arming, at most a window
  int after_trigger_ = 0;
  std::vector<double> ring_;  // points_no_ x (channels + 1)
  int write_ = 0;
  int filled_ = 0;
  int last_first_ = 0;
  int last_count_ = 0;
};
