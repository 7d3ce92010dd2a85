#pragma once
// The control template of the speed and the position tuning tests: its ids, the table of what
// differs between the two tests, and the controls of each of its two pages.

#include <vector>

#include "derive/gains.h"
#include "drivetests/reference_profile.h"
#include "host/zel_dialog_template.h"

namespace dcservo {

// Control ids of both templates; the position test's own ids follow.
enum TuningControl : int {
  kTuningTab = 1300,
  kLimitsBox = 1301,
  kProfileBox = 1302,
  kInertiaBox = 1303,
  kProcedureBox = 1304,
  kLimitsPicture = 1305,
  kProcedureText = 1306,
  kControllerBox = 1307,
  kViewBox = 1308,
  kTuneBox = 1309,
  kRunBox = 1310,
  kGraphBox = 1311,
  kLiveBox = 1312,

  kHoldEdit = 1314,
  kHoldUnit = 1315,
  kEndEdit = 1317,
  kEndUnit = 1318,
  kFinalSpeedEdit = 1320,
  kFinalSpeedUnit = 1321,
  kProfilePicture = 1322,
  kFirstRampEdit = 1327,
  kFirstRampUnit = 1328,
  kSecondRampEdit = 1330,
  kSecondRampUnit = 1331,
  kMultiCycle = 1332,

  kKpEdit = 1335,
  kKpSpin = 1336,
  kKpSlider = 1337,
  kKpSpin2 = 1338,
  kKiEdit = 1340,
  kKiSpin = 1341,
  kKiSlider = 1342,
  kKiSpin2 = 1343,
  kIntegralEdit = 1345,
  kIntegralUnit = 1346,
  kIntegralSpin = 1347,
  kIntegralSlider = 1348,
  kIntegralSpin2 = 1349,
  kFeedforwardBox = 1350,
  kKffsLabel = 1351,
  kKffsEdit = 1352,
  kKffsSpin = 1353,
  kKffsSlider = 1354,
  kKffsSpin2 = 1355,
  kKffaLabel = 1356,
  kKffaEdit = 1357,
  kKffaSpin = 1358,
  kKffaSlider = 1359,
  kKffaSpin2 = 1360,
  kLoggerGraph = 1361,
  kOnlineGraph = 1362,
  kLiveReferenceLabel = 1363,
  kLiveReference = 1364,
  kLiveLoadLabel = 1365,
  kLiveLoad = 1366,
  kDataLogger = 1368,
  kOnlinePlot = 1369,
  kSavePlots = 1372,
  kPassBandEdit = 1379,
  kPassBandUnit = 1380,
  kPassBandSpin = 1381,
  kPassBandSlider = 1382,
  kPassBandSpin2 = 1383,
  kRatioLabel = 1384,
  kRatioEdit = 1385,
  kRatioSpin = 1386,
  kRatioSlider = 1387,
  kRatioSpin2 = 1388,
  kTune = 1390,
  kFiguresText = 1391,

  kInertiaEdit = 3270,
  kSpeedIdentify = 3271,
  kProtectionUnit = 3279,
  kProtectionEdit = 3281,
  kLimitUnit = 3283,
  kLimitEdit = 3284,
  kInertiaUnit = 3288,
  kLiveReferenceMarker = 3331,
  kLiveLoadMarker = 3332,
  kPositionIdentify = 3305,
  kFilters = 3510,
  kFrequencyResponse = 3511,  // the speed test's only
  kTypePositive = 3528,
  kTypeNegative = 3529,
  kTypeBidirectional = 3530,

  kPause = 10016,
  kContinue = 10017,

  // the position test's own
  kSpeedLimitLabel = 1101,
  kSpeedLimitEdit = 1043,
  kSpeedLimitUnit = 1044,
  kSpeedLimitBox = 3408,
  kFinalPositionEdit = 1501,
  kFinalPositionUnit = 1502,
  kKdEdit = 1508,
  kKdSpin = 1509,
  kKdSlider = 1510,
  kKdSpin2 = 1511,
  kKdFilterEdit = 1513,
  kLivePositionReferenceLabel = 1517,
  kLivePositionReference = 1518,
  kLivePositionLoadLabel = 1519,
  kLivePositionLoad = 1520,
};

// Commands of the graph's context menu and of the scope.
enum TuningCommand : int {
  kCmdEditScope = 10062,
  kCmdDefaultScope = 10063,
  kCmdAutoScale = 10064,
  kCmdLoadScope = 10065,
  kCmdSaveScope = 10066,
  kCmdSaveGraph = 10067,
  kCmdSaveVector = 10068,
  kCmdExportText = 10069,
};

// Everything that differs between the two tests, as data.
struct TuningTestKind {
  unsigned template_id;
  const char* caption;
  const char* purpose;
  unsigned help_context;
  ProfileNames profile;
  const char* online_plot;   // OnlinePlotS
  const char* multi_cycle;   // MultiCycleS
  const char* kp;
  const char* ki;
  const char* integral_limit;
  const char* pass_band;
  const char* scope_option;  // "SpeedTuningOscSettings"
  const char* file_base;     // "SpeedTuning"
  int final_edit, final_unit;
  int identify;
  int live_reference_label, live_reference, live_load_label, live_load;
  const char* live_reference_text;
  const char* live_load_text;
  const char* limits_image;
  const char* profile_box;
  const char* instructions;
  TunedLoop loop;
};

extern const TuningTestKind kSpeedTuningKind;
extern const TuningTestKind kPositionTuningKind;

// The control template of either test.
ZelDialogTemplate MakeTuningTemplate(const TuningTestKind& kind);

// The controls of a page of the tab (kTestParametersPage or kTestPage), at any depth of its
// columns: a page shows and hides them.
std::vector<int> TuningPageControls(const ZelDialogTemplate& t, int page);

}  // namespace dcservo
