#pragma once
// The two plots of a tuning test, in one place on its "Test" page: the data logger's, filled
// by the upload after a run, and the on-line one, filled as the run goes by the scope's frames
// or, without a scope, by the live display's reads. Which one shows is the dialog's to say.

#include <string>
#include <vector>

#include "drivetests/online_view.h"
#include "host/zel_graph.h"
#include "host/zel_logger.h"

class CZel_Dialog;
class CZel_ScopeLogger;
class CZel_Setup;

namespace dcservo {

// The data logger's points over one profile: a profile of at most this many slow-loop samples
// is logged at the loop's own rate, a longer one every second sample or sparser.
inline constexpr int kTuningLogPoints = 2000;

class TuningGraphs {
 public:
  explicit TuningGraphs(CZel_Setup& setup);

  CZel_SingleAxisLogger& Logger() { return logger_; }
  CGraphWindow& LoggerGraph() { return logger_graph_; }
  CGraphWindow& OnlineGraph() { return online_graph_; }
  const OnlineView& Online() const { return online_view_; }
  OnlineView& Online() { return online_view_; }
  CGraphWindow& Shown(bool online) { return online ? online_graph_ : logger_graph_; }
  const CGraphWindow& Shown(bool online) const { return online ? online_graph_ : logger_graph_; }

  // The logger takes the test's four variables, and its plot the dialog's logger graph.
  void SetUpLogger(const std::vector<std::string>& variables, CZel_Dialog* dialog,
                   const char* title);
  // A new on-line plot, of the scope's channels or, without one, of the first two logged
  // variables as the live display reads them.
  void AttachOnline(CZel_Setup& setup, const CZel_ScopeLogger* scope,
                    const std::vector<std::string>& logged, CZel_Dialog* dialog,
                    const char* title);
  // The points of the scope's last frame; true when a sweep was completed with them.
  bool TakeScopePoints(const CZel_ScopeLogger& scope);

 private:
  CZel_SingleAxisLogger logger_;
  CGraphWindow logger_graph_;
  OnlineView online_view_;
  CGraphWindow online_graph_;
};

}  // namespace dcservo
