#pragma once
// The communication seam. Everything the host says to a drive goes through one
// CZel_DriveLink: live variables, chip parameters, test programs and their variables, the
// axis state, the data logger and the stream of unsolicited messages. The simulated drive is
// one link; a real drive would be another behind the same calls.
//
// CZel_Comm is the host's single channel, as the host kernel has it: static calls on the
// link that is attached. The drive's time follows a clock that the caller owns (the UI's
// wall clock, or a virtual clock in headless runs): before each request the link is brought
// up to the clock, so a headless run goes as fast as the CPU simulates.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CZel_Setup;
class CZel_Quantity;
class CZel_Variable;
class CZel_Parameter;
class CZel_CoffFormat;
class CZel_Logger;

// ---- what the links exchange -----------------------------------------------------------

// The data logger's recording, as the drive's log memory holds it.
struct ZelLogRequest {
  enum Loop : int { kSlowLoop = 1, kFastLoop = 2 };
  std::vector<std::string> variables;
  int points = 0;
  int loop = kSlowLoop;
  // One point every `divider` samples of that loop; a program may stretch it so that its
  // whole run fits into the points.
  int divider = 1;
};

struct ZelLogData {
  double period_s = 0.0;                    // time between two points
  std::vector<std::vector<double>> points;  // points[k][channel], internal units
};

// The scope stream: points about `period_s` apart, sent `points_per_frame` to a frame. The
// drive rounds the period up to whole samples of its slow loop and says in each frame what it
// used. A frame's data words: sequence number, points n, period in ns (32 bits), then n
// points of one 32-bit value per variable.
struct ZelStreamRequest {
  std::vector<std::string> variables;
  double period_s = 0.0;
  int points_per_frame = 8;
};

inline constexpr std::size_t kZelFrameHeaderBytes = 8;

// A test-program variable that holds this has no result yet.
inline constexpr double kZelNoResultYet = 1.2345e100;

// A variable of a test program as the drive declares it. Its type on the drive holds the
// values from `lowest` to `highest` in steps of `step` (a 16-bit integer by default).
struct ZelProgramVariable {
  std::string name;
  double value = 0.0;
  double lowest = -32768.0, highest = 32767.0, step = 1.0;

  // The value as the drive's variable holds it (rounded to its step), or nothing with
  // `error` set when the type cannot hold it.
  bool Representable(double wanted, double& held, std::string& error) const;
};

// A drive behind the host. Values cross in the drive's internal units. Calls that can fail
// return false and leave the reason in LastError().
// Which drive a run went to, for its record: where it is reached and what it says it is.
struct ZelDriveDescription {
  std::string address;  // as the user wrote it; empty for a drive in this process
  int unit = 0;         // the drive's unit id on its link; 0 in this process
  // As the drive reports them; empty where it reports nothing (the simulated drive in this
  // process is the setup's own and reports no identity; no drive of the map has a serial).
  std::string product_id, firmware_id, serial;
};

class CZel_DriveLink {
 public:
  virtual ~CZel_DriveLink() = default;

  virtual ZelDriveDescription Describe() const { return {}; }

  // Seconds since the link came up; AdvanceTo never goes back.
  virtual double Now() const = 0;
  virtual void AdvanceTo(double seconds) = 0;

  virtual bool ReadVariable(std::string_view name, double& value) = 0;
  virtual bool WriteVariable(std::string_view name, double value) = 0;
  virtual bool WriteParameter(std::string_view name, double value) = 0;

  // The program's variables with the values they start with; false for an unknown program.
  virtual bool DescribeProgram(std::string_view name, std::vector<ZelProgramVariable>& vars) = 0;
  // Loads and starts a program with these variable values; the run's number, 0 on failure.
  virtual std::uint64_t StartProgram(std::string_view name,
                                     const std::vector<ZelProgramVariable>& vars) = 0;
  // The run that is loaded now (running or ended), 0 when none was started.
  virtual std::uint64_t LoadedRun() const = 0;
  virtual bool ProgramRunning() const = 0;
  // Asks the running program to end (the user pressed Stop).
  virtual void StopProgram() = 0;
  virtual bool ReadProgramVariable(std::string_view name, double& value) = 0;
  virtual bool WriteProgramVariable(std::string_view name, double value) = 0;
  virtual bool AxisOn() const = 0;

  // Words of log memory; a 32-bit variable takes two.
  virtual int LogCapacityWords() const = 0;
  virtual bool StartLog(const ZelLogRequest& request) = 0;
  virtual bool UploadLog(ZelLogData& data) = 0;
  // While a log records: the points it holds so far and the points it was asked for. False
  // where the drive cannot tell (or no log was asked for); nothing is changed then.
  virtual bool LoggedPoints(std::size_t& /*recorded*/, std::size_t& /*asked*/) { return false; }
  // The log in blocks, for a host that draws it as it arrives: appends to `data` the next
  // points after those it holds, at most what one request carries over a link (all of them
  // where the log is at hand), and `recorded` receives the points the log holds in all.
  // `look_again` takes a new look at the recording first (a log grows while its program
  // runs); without it the last look (of this call or of LoggedPoints) stands. Nothing is
  // appended once `data` holds what that look saw.
  virtual bool UploadLogBlock(ZelLogData& data, bool look_again, std::size_t& recorded);
  virtual bool StartStream(const ZelStreamRequest& request) = 0;
  virtual void StopStream() = 0;
  // Takes the oldest pending unsolicited message; false when none is waiting.
  virtual bool PopMessage(std::vector<std::uint8_t>& message) = 0;
  virtual std::size_t PendingMessageCount() const = 0;

  virtual std::string LastError() const = 0;
  // True once the drive cannot be reached any more (a link that was lost); LastError() says
  // why, and every later call fails with it.
  virtual bool Lost() const { return false; }
  // How many calls have failed so far; a test that fails for a reason of its own tells the
  // user LastError() instead when the drive failed a call during its run.
  virtual std::uint64_t FaultCount() const { return 0; }

  // Told while UploadLog brings a log over a link that takes its time (the points received
  // so far, and the log's); a link that has the log at hand says nothing. Empty: no one.
  using UploadProgress = std::function<void(std::size_t received, std::size_t total)>;
  void SetUploadProgress(UploadProgress progress) { upload_progress_ = std::move(progress); }

 protected:
  void ReportUploadProgress(std::size_t received, std::size_t total) const {
    if (upload_progress_) upload_progress_(received, total);
  }

 private:
  UploadProgress upload_progress_;
};

// ---- the layout of a message ------------------------------------------------------------

// Bytes 0-1 the number of data words, 2-3 the sending axis, 4-5 the code, data from byte 6;
// all words little-endian.
namespace zel_msg {

inline constexpr std::uint16_t kLoggerFrame = 0xE900;
inline constexpr std::size_t kHeaderBytes = 6;

struct View {
  std::uint16_t axis = 0;
  std::uint16_t code = 0;
  const std::uint8_t* data = nullptr;
  std::size_t data_bytes = 0;
};

std::vector<std::uint8_t> Build(std::uint16_t code, std::uint16_t axis,
                                const std::vector<std::uint16_t>& data_words);
// False, with the reason, when the bytes are shorter than the header or disagree with the
// word count; nothing past `bytes` is read.
bool Parse(const std::uint8_t* message, std::size_t bytes, View& view, std::string* why = nullptr);

inline std::uint16_t Word(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace zel_msg

// Called for each unsolicited message; the message is valid only during the call.
using ZelUnsolicitedMsgHandler = int (*)(const std::uint8_t* message, std::size_t bytes);

// ---- the host's channel -----------------------------------------------------------------

class CZel_Comm {
 public:
  // The link that every call goes to; null detaches. The drive's time starts at the
  // clock's reading of this moment.
  static void Attach(std::shared_ptr<CZel_DriveLink> link);
  static void Detach() { Attach(nullptr); }
  static CZel_DriveLink* GetLink();
  static std::shared_ptr<CZel_DriveLink> GetSharedLink();
  static bool IsConnected() { return GetLink() != nullptr; }

  // Seconds, never going back. Without a clock the drive's time moves only with
  // AdvanceClock.
  static void SetClock(std::function<double()> clock);
  static void AdvanceClock(double seconds);
  // Brings the drive up to the clock; every call below does it first.
  static void Synchronize();
  static double DriveTime();

  // --- setup elements ---
  static int ReadVariable(CZel_Variable& variable);
  static int WriteVariable(const CZel_Variable& variable);
  static int WriteParameter(const CZel_Parameter& parameter);
  // Writes every chip parameter (those kept in one of the drive's integer types).
  static int DownloadChipParameters(const CZel_Setup& setup);
  // Writes every parameter of `setup`, as WriteParameter writes each, the drive brought up
  // to the clock once for all of them: 1 when the drive took each, else 0 with the last
  // refusal's reason, every other parameter written all the same.
  static int WriteParameters(const CZel_Setup& setup);

  // --- test programs ---
  // Where the compiled program of that name is found.
  static std::string GetOutPathName(std::string_view program);
  static void SetOutputDirectory(std::string directory);
  // Downloads the chip parameters of `setup` (when given), loads the program with the
  // values written into `coff` (or its own start values without one), arms the logger and
  // starts the program.
  static int ExecuteCode(CZel_Setup* setup, std::string_view program, CZel_CoffFormat* coff,
                         CZel_Logger* logger);
  static int StopProgram();
  // Lets a program still running on the drive end, asked to stop if nobody has: a stopped run
  // brings the shaft to rest in its closing hold, which a new program would cut short.
  // ExecuteCode does it too; a caller that reads where the shaft stands before it starts a
  // run calls it first.
  static int LetRunningProgramEnd();
  static int SetUserVariableValue(CZel_CoffFormat* coff, std::string_view name, double value,
                                  std::string& error);
  static int GetUserVariableValue(CZel_CoffFormat* coff, std::string_view name, double& value,
                                  std::string& error);
  static int GetAxisOn(int& flag);

  // --- unsolicited messages ---
  static ZelUnsolicitedMsgHandler RegisterReceiveUnsolicitedMsgHandler(
      ZelUnsolicitedMsgHandler handler);
  // Hands each pending message to `handler` (the registered one when null); messages that
  // disagree with their own word count are dropped. The number delivered.
  static int CheckForUnrequestedMessages(ZelUnsolicitedMsgHandler handler = nullptr);
  static int RejectedMessageCount();

  static const std::string& GetLastErrorText();
  // Why the attached drive cannot be reached any more; empty while it can.
  static std::string LinkLostText();
  static void SetLastErrorText(std::string text);
};

// Attaches a link for its lifetime and puts back the one that was attached before.
class CZel_CommSession {
 public:
  explicit CZel_CommSession(std::shared_ptr<CZel_DriveLink> link);
  ~CZel_CommSession();
  CZel_CommSession(const CZel_CommSession&) = delete;
  CZel_CommSession& operator=(const CZel_CommSession&) = delete;

 private:
  std::shared_ptr<CZel_DriveLink> previous_;
};
