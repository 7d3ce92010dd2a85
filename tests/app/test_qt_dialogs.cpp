// The Qt front end, off screen: a template rendered, the model mirrored both ways, message
// boxes, help, timers, nested loops, graphs, and the real dialogs drawn tidy and saved.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QHashSeed>
#include <QComboBox>
#include <QScreen>
#include <QTest>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTextBrowser>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <optional>
#include <regex>

#include "app/qt/qt_dialog_view.h"
#include "app/qt/qt_graph_view.h"
#include "app/qt/qt_link_panel.h"
#include "app/qt/qt_report_pdf.h"
#include "app/qt/qt_session.h"
#include "app/qt/qt_sim_panel.h"
#include "derive/pipelines.h"
#include "dialogs/advanced_dlg.h"
#include "dialogs/analog_reference_dlg.h"
#include "dialogs/drive_info_dlg.h"
#include "dialogs/drive_setup_dlg.h"
#include "design/last_speed_run.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_motor_database.h"
#include "names/dialog_names.h"
#include "tests/app/cli_runner.h"
#include "tests/support/dialog_harness.h"
#include "drivetests/current_test_dlg.h"
#include "drivetests/frequency_response_dlg.h"
#include "drivetests/tuning_test_dlg.h"
#include "host/zel_comm.h"
#include "sim/simulated_drive.h"
#include "app/qt/qt_bar_graph.h"
#include "app/qt/qt_encoder_diagram.h"
#include "drivetests/analogue_test_dlg.h"
#include "drivetests/encoder_test_dlg.h"
#include "host/zel_graph.h"
#include "host/zel_report_document.h"
#include "host/zel_test_dlg.h"
#include "tests/host/test_dialog_fixture.h"
#include "tests/support/fake_drive.h"
#include "tests/support/test_tones.h"

// Sizes read as sizes in a failure.
inline void PrintTo(const QSize& size, std::ostream* os) {
  *os << size.width() << " x " << size.height();
}

namespace {

using namespace dialog_testing;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// One application for the whole program, off screen so that CI needs no display.
QtGuiSession& Session() {
  static int argc = 1;
  static char name[] = "test_app";
  static char* argv[] = {name, nullptr};
  static QtGuiSession* session = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QtGuiSession(argc, argv);
  }();
  return *session;
}

// Runs `dialog` in the Qt backend; each shown dialog (the first, then nested ones) gets the
// next action once its loop runs. A dialog still open after 10 s is a failure and is closed.
int RunShown(CZel_Dialog& dialog, std::deque<std::function<void(QtDialogView&)>> actions) {
  QtUiBackend& ui = Session().Backend();
  ui.on_shown = [&actions](QtDialogView& view) {
    if (actions.empty()) return;
    auto act = std::move(actions.front());
    actions.pop_front();
    QPointer<QtDialogView> alive(&view);
    QTimer::singleShot(0, [alive, act] {
      if (alive) act(*alive);
    });
  };
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&dialog] {
    ADD_FAILURE() << "the dialog was still open after 10 s";
    dialog.EndDialog(kIdCancel);
  });
  watchdog.start(10000);
  const int result = dialog.DoModal();
  ui.on_shown = nullptr;
  return result;
}

template <class W>
W* Find(QtDialogView& view, int id) {
  W* w = qobject_cast<W*>(view.Widget(id));
  EXPECT_NE(w, nullptr) << "control " << id;
  return w;
}

// Types into a line edit as a person does: select all, the keys, then Return.
void Type(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, c.toUpper().unicode(), Qt::NoModifier, QString(c));
    QApplication::sendEvent(edit, &press);
  }
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(edit, &enter);
}

// While it lives, presses `button` on each message box that appears, and keeps their texts.
class BoxAnswers {
 public:
  explicit BoxAnswers(QMessageBox::StandardButton button) {
    QObject::connect(&poll_, &QTimer::timeout, [this, button] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible()) continue;
        texts.push_back(box->text().toStdString());
        box->button(button)->click();
      }
    });
    poll_.start(5);
  }
  std::vector<std::string> texts;

 private:
  QTimer poll_;
};

// Controls of the window that are on screen overlap none of the others, except the boxes
// that hold them.
void ExpectNoOverlap(QtDialogView& view) {
  // Layouts settle, and the window grows to new content, in the next turns of the event loop
  // after controls were shown or hidden.
  for (int turn = 0; turn < 3; ++turn) QApplication::processEvents();
  std::vector<std::pair<int, QWidget*>> shown;
  for (int id : view.Dialog().GetControlIds()) {
    QWidget* w = view.Widget(id);
    if (w && w->isVisible()) shown.emplace_back(id, w);
  }
  for (std::size_t i = 0; i < shown.size(); ++i) {
    for (std::size_t j = i + 1; j < shown.size(); ++j) {
      QWidget* a = shown[i].second;
      QWidget* b = shown[j].second;
      if (a->isAncestorOf(b) || b->isAncestorOf(a)) continue;
      const QRect ra(a->mapTo(&view, QPoint(0, 0)), a->size());
      const QRect rb(b->mapTo(&view, QPoint(0, 0)), b->size());
      EXPECT_FALSE(ra.intersects(rb)) << "controls " << shown[i].first << " and " << shown[j].first;
    }
  }
}

// Every test draws in the one off-screen session.
class QtDialogs : public ::testing::Test {
 protected:
  void SetUp() override { Session(); }
};

// The room a dialog has on the smallest screen the program is made for, 1366 x 768, once the
// window's title bar and frame and a desktop panel have taken theirs.
const QSize kDialogRoom(1300, 700);

// A window on screen: within `screen`, its controls apart, and saved as `file` for a look.
void ExpectTidyAndSave(QtDialogView& view, const std::string& file, QSize screen = kDialogRoom) {
  EXPECT_LE(view.width(), screen.width());
  EXPECT_LE(view.height(), screen.height());
  ExpectNoOverlap(view);
  const std::string shot = testing_support::BinaryDir() + "/" + file;
  EXPECT_TRUE(view.grab().save(QString::fromStdString(shot), "PNG"));
  EXPECT_GT(testing_support::ReadFile(shot).size(), 1000u);
}

TEST_F(QtDialogs, RendersATemplateMirrorsTheModelBothWaysAndOpensHelp) {
  auto setup = SmallSetup();
  RecordingDialog dlg(*setup);
  const int result = RunShown(dlg, {[&](QtDialogView& view) {
    // Model to Qt.
    EXPECT_EQ(Find<QLineEdit>(view, kVdcEdit)->text(), "48");
    EXPECT_EQ(Find<QComboBox>(view, kVdcUnit)->currentText(), "V");
    EXPECT_TRUE(Find<QRadioButton>(view, kPosition)->isChecked());
    EXPECT_EQ(Find<QComboBox>(view, kFilterList)->currentText(), "Notch");
    EXPECT_THAT(Find<QPushButton>(view, kIdcGuidancePrevious)->isEnabled(), false);

    // Qt to model: a refused value answered in a message box, then typing, a radio click, a
    // unit choice.
    {
      BoxAnswers ok(QMessageBox::Ok);
      Type(Find<QLineEdit>(view, kVdcEdit), "100");
      EXPECT_THAT(ok.texts, ElementsAre(HasSubstr(
                                "Power supply: 100 V is outside the allowed range 10 to 60 V.")));
    }
    EXPECT_EQ(Find<QLineEdit>(view, kVdcEdit)->text(), "48");
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("Vdc"), 48.0);
    Type(Find<QLineEdit>(view, kVdcEdit), "30");
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("Vdc"), 30.0);
    EXPECT_THAT(dlg.log, Contains("changed Vdc=30"));
    Find<QRadioButton>(view, kSpeed)->click();
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("ControlMode"), 1.0);
    EXPECT_FALSE(Find<QRadioButton>(view, kPosition)->isChecked());
    QComboBox* unit = Find<QComboBox>(view, kVdcUnit);
    const int mv = unit->findText("mV");
    unit->setCurrentIndex(mv);
    emit unit->activated(mv);
    EXPECT_EQ(Find<QLineEdit>(view, kVdcEdit)->text(), "30000");

    // What dialog code does shows at once.
    dlg.EnableChild(kApply, 0);
    EXPECT_FALSE(Find<QPushButton>(view, kApply)->isEnabled());
    dlg.EnableChild(kLimitEdit, 0, 1);
    EXPECT_EQ(Find<QLineEdit>(view, kLimitEdit)->text(), "");
    dlg.EnableChild(kLimitEdit, 1);
    EXPECT_EQ(Find<QLineEdit>(view, kLimitEdit)->text(), "5");
    // A box hidden by the dialog leaves its controls alone.
    dlg.EnableChild(kSupplyBox, 0);
    EXPECT_TRUE(Find<QLineEdit>(view, kVdcEdit)->isEnabled());

    ExpectTidyAndSave(view, "qt_small_setup.png", QSize(1280, 768));

    // Help opens the page of the context in a help window.
    dlg.ShowHelpTopic(262406);
    QDialog* help = Session().Backend().HelpWindow();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    auto* browser = help->findChild<QTextBrowser*>("help_browser");
    EXPECT_TRUE(browser->source().toLocalFile().endsWith("help/262406.html"));
    EXPECT_THAT(browser->toPlainText().toStdString(), HasSubstr("Guideline assistant"));
    dlg.EndDialog(kIdOk);
  }});
  EXPECT_EQ(result, kIdOk);
}

class TickingDialog : public RecordingDialog {
 public:
  using RecordingDialog::RecordingDialog;
  void OnShowWindow(bool) override { SetTimer(7, 5); }
  void OnTimer(unsigned id) override {
    if (id == 7 && ++ticks == 3) EndDialog(kIdRetry);
  }
  int ticks = 0;
};

TEST_F(QtDialogs, TimersAndNestedLoopsRunOnQt) {
  auto setup = SmallSetup();
  RecordingDialog outer(*setup);
  TickingDialog ticking(*setup);
  const int result = RunShown(outer, {
      [&](QtDialogView& view) {
        // The child's loop runs inside this click and has returned when the click does.
        Find<QPushButton>(view, kOpenChild)->click();
        EXPECT_EQ(outer.child_result, kIdOk);
        EXPECT_EQ(ticking.DoModal(), kIdRetry);
        outer.EndDialog(kIdCancel);
      },
      [&](QtDialogView& child) {
        EXPECT_EQ(child.windowTitle(), "Child");
        Find<QPushButton>(child, kIdOk)->click();
      },
  });
  EXPECT_EQ(result, kIdCancel);
  EXPECT_EQ(ticking.ticks, 3);
}

TEST_F(QtDialogs, GraphsAreDrawnWithQtChartsAndSaved) {
  testing_support::TempDir dir;
  ZelDialogTemplate t;
  t.id = 9301;
  t.caption = "Plot";
  t.controls = {{1361, ZelControlKind::Graph, "", 0, {0, 0}}};
  CZel_Dialog dlg(t);
  CGraphDocument doc;
  for (const char* name : {"time", "Current_Reference", "Motor_Current"}) doc.AddChannel(name);
  doc.GetAt(0)->AddCurve("Current_Reference", 0, 1, 1, 2, RGB16(2));
  doc.GetAt(0)->AddCurve("Motor_Current", 0, 2, 2, 1, RGB16(5));
  CGraphWindow graph;
  RunShown(dlg, {[&](QtDialogView& view) {
    graph.SubclassDlgItem(1361, &dlg, doc.GetAt(0));
    graph.RefreshGraph();
    graph.DoZoomOut();
    for (int i = 0; i < 40; ++i) {
      doc.AddPoint({i * 1e-3, 1.0, 1.0 - std::exp(-i / 8.0)});
      graph.UpdateLastPoint();
    }
    graph.DoZoomOut();
    QtGraphView* chart = view.Graph(1361);
    ASSERT_NE(chart, nullptr);
    EXPECT_EQ(chart->SeriesCount(), 2);
    EXPECT_EQ(chart->PointCount(1), 40);
    EXPECT_EQ(graph.CreateWMF(dir.File("plot")), 1);
    dlg.EndDialog(kIdOk);
  }});
  EXPECT_FALSE(QImage(QString::fromStdString(dir.File("plot.png"))).isNull());

  // The host's own PNG, written without Qt, decodes and shows the curves in their colours.
  ASSERT_EQ(ZelWriteGraphPng(graph, dir.File("headless.png")), "");
  QImage headless(QString::fromStdString(dir.File("headless.png")));
  ASSERT_FALSE(headless.isNull());
  EXPECT_EQ(headless.size(), QSize(800, 500));
  EXPECT_EQ(headless.pixel(3, 3) & 0xFFFFFF, 0xFFFFFFu);
  auto pixels = [&headless](QRect band, auto is) {
    int n = 0;
    for (int y = band.top(); y <= band.bottom(); ++y)
      for (int x = band.left(); x <= band.right(); ++x) n += is(headless.pixel(x, y));
    return n;
  };
  // A line across the plot, two pixels thick.
  EXPECT_GT(pixels(headless.rect(), [](QRgb p) { return (p & 0xFFFFFF) == RGB16(2); }), 600);
  // Its texts are drawn: ink in the title band above the plot and left of the plot, where
  // the axis's title and labels stand.
  const auto ink = [](QRgb p) { return qGray(p) < 128; };
  EXPECT_GT(pixels(QRect(0, 0, 800, 30), ink), 20);
  EXPECT_GT(pixels(QRect(0, 40, 80, 400), ink), 40);
}

// The watching tests on screen, a run started and ticked once on a drive whose live value
// the case sets: the indicators drawn, the layout tidy, a picture saved to look at.
TEST_F(QtDialogs, TheWatchingTestsDrawTheirIndicatorsDuringARun) {
  struct Case {
    const char *dialog, *program, *variable;  // the program's live `variable` reads `value`
    double value;
    std::function<void(QtDialogView&)> check;
    const char* picture;
  };
  const Case cases[] = {
      // The encoder disc turns with the counter.
      {dcservo::dialog_names::kEncoderTest, "Encoder_Connection_Test", "APOS", 300.0,
       [](QtDialogView& view) {
         EXPECT_EQ(Find<QLineEdit>(view, dcservo::kEncCounter)->text(), "300");
         EXPECT_TRUE(dynamic_cast<QtEncoderDiagram&>(*Find<QWidget>(view, dcservo::kEncDiagram))
                         .isVisible());
       },
       "qt_encoder_test.png"},
      {dcservo::dialog_names::kAnalogueTest, "Analogue_Reference_Test", "AD5", 0.8 * 65472.0,
       [](QtDialogView& view) {
         EXPECT_EQ(Find<QLineEdit>(view, dcservo::kAnVoltageEdit)->text(), "6.00");
         for (int bar : {dcservo::kAnVoltageBar, dcservo::kAnCommandBar})
           EXPECT_GE(dynamic_cast<QtBarGraph&>(*Find<QWidget>(view, bar)).width(), 200) << bar;
       },
       "qt_analogue_test.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    auto drive = testing_support::FakeDrive::For(c.program, {{"STARTED", 0.0}, {"test_flag", 1.0}});
    drive->live[c.variable] = c.value;
    CZel_CommSession comm(drive);
    auto setup = testing_support::LoadBundledSetup();
    auto dlg = ZelCreateDialog(c.dialog, *setup);
    auto& test = dynamic_cast<CZel_TestDlg&>(*dlg);
    RunShown(test, {[&](QtDialogView& view) {
      ASSERT_TRUE(test.UserClick(kIdcTestStartStop));
      test.DispatchTimer(1);
      ASSERT_EQ(test.m_bTestRunning, 1) << test.m_strError;
      c.check(view);
      ExpectTidyAndSave(view, c.picture);
      test.EndDialog(kIdCancel);
    }});
  }
}

// Typing and clicking through Qt are held on a small template (above); what the drive setup
// does with a typed gain or a control mode is held by its headless tests (tests/dialogs).
TEST_F(QtDialogs, DriveSetupOnScreenKeepsItsButtonsOutOfTheScrolledContent) {
  // The motor setup that opens on top once the page shows has screenshots of its own.
  testing_support::ScopedDialogOverride no_motor(dcservo::dialog_names::kMotorSetup, nullptr);
  auto setup = testing_support::LoadBundledSetup();
  CDriveSetupDlg dlg(*setup);
  const int result = RunShown(dlg, {[&](QtDialogView& view) {
    EXPECT_EQ(view.windowTitle(), "Drive Setup");
    // The dialog's own buttons stay in the window rather than in the scrolled content.
    for (int id : {kIdOk, kIdCancel, static_cast<int>(dcservo::kHelpButton)}) {
      QPushButton* button = Find<QPushButton>(view, id);
      EXPECT_TRUE(button->isVisible()) << id;
      EXPECT_TRUE(view.rect().contains(QRect(button->mapTo(&view, QPoint(0, 0)), button->size())))
          << id;
      EXPECT_FALSE(view.findChild<QScrollArea*>()->isAncestorOf(button)) << id;
    }
    ExpectTidyAndSave(view, "qt_drive_setup.png");
    Find<QPushButton>(view, kIdOk)->click();
  }});
  EXPECT_EQ(result, kIdOk);
}

// The dialogs that the drive setup opens, each drawn as the bundled drive (with `values`)
// shows it and as a user meets it: whole, tidy, within the screen, and saved for a look.
TEST_F(QtDialogs, TheDialogsOfTheDriveSetupAreTidy) {
  namespace names = dcservo::dialog_names;
  ZelSetMotorCatalogueDirectory(DCSERVO_RESOURCE_DIR "/motors");
  struct Case {
    const char* dialog;
    std::vector<testing_support::Param> values;
    std::function<void(QtDialogView&, CZel_Dialog&)> check;  // before the picture
    const char* picture;
    int close = kIdCancel;
    // What the session holds before the dialog opens, beside the setup.
    std::function<void(const CZel_Setup&)> session = nullptr;
  };
  const Case cases[] = {
      {names::kAdvanced, {{"Ts_C_min", 60e-6}},
       // A fast loop below its minimum shows in red.
       [](QtDialogView& view, CZel_Dialog&) {
         using namespace dcservo::advanced;
         auto* picture = qobject_cast<QLabel*>(view.Widget(kSchemePicture));
         ASSERT_NE(picture, nullptr);
         EXPECT_FALSE(picture->pixmap().isNull());  // the scheme's SVG, not its number
         EXPECT_GE(picture->height(), picture->pixmap().height());
         Type(Find<QLineEdit>(view, kFastDividerEdit), "2");
         Type(Find<QLineEdit>(view, kFastDividerEdit), "1");
         auto* label = qobject_cast<QLabel*>(view.Widget(kFastPeriodLabel));
         EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::red));
         EXPECT_TRUE(view.Widget(kFastMarker)->isVisible());
       },
       "qt_advanced.png"},
      {names::kExternalReference, {{"isAnalogueReference", 1}, {"isLimitMaximum", 1}},
       [](QtDialogView& view, CZel_Dialog&) {
         EXPECT_TRUE(view.Widget(dcservo::external_reference::kFirstLimitEdit)->isVisible());
       },
       "qt_external_reference.png"},
      {names::kDriveInfo, {{"isAnalogueReference", 1}, {"isLimitMaximum", 1}},
       [](QtDialogView& view, CZel_Dialog& dlg) {
         QLineEdit* app_id = Find<QLineEdit>(view, dcservo::drive_info::kApplicationIdEdit);
         EXPECT_EQ(app_id->maxLength(), dcservo::kApplicationIdLength);
         QKeyEvent key(QEvent::KeyPress, Qt::Key_S,
                       Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
         QApplication::sendEvent(app_id, &key);
         EXPECT_TRUE(dynamic_cast<CDriveInfo&>(dlg).InServiceMode());
         EXPECT_TRUE(Find<QLineEdit>(view, dcservo::drive_info::kE2romEdit)->isEnabled());
       },
       "qt_drive_info.png"},
      {names::kMotorSetup, {{"isMotorBrake", 1}, {"Motor_transmission", -1}}, nullptr,
       "qt_motor.png"},
      {names::kFilters,
       {{"BQFilter1", 1}, {"BQFilterType1", 2}, {"BQFilterF11", 150}, {"BQFilterQ1", 3},
        {"BQFilter3", 1}, {"BQFilterType3", 9}, {"BQFilterLocation3", 1}},
       [](QtDialogView& view, CZel_Dialog&) {
         // The resonance that the last speed run named can be notched.
         // (By caption: the dialog's header meets Qt's `slots`.)
         const auto buttons = view.findChildren<QPushButton*>();
         EXPECT_TRUE(std::any_of(buttons.begin(), buttons.end(), [](QPushButton* b) {
           return b->text() == "Apply Notch" && b->isEnabled();
         }));
       },
       "qt_filters.png", kIdCancel,
       [](const CZel_Setup& setup) {
         dcservo::RememberMeasuredSpectrum(setup, testing_support::LoggedSpectrum(0.0005, 800, 0.45),
                                           dcservo::Resonance{800, 43.5, 2.0, true});
       }},
      {names::kInertiaQuestion, {}, nullptr, "qt_inertia-question.png", kIdOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    auto setup = testing_support::LoadBundledSetup();
    for (const auto& v : c.values) setup->SetParameterValueInBaseUnit(v.name, v.value);
    if (c.session) c.session(*setup);
    auto dlg = ZelCreateDialog(c.dialog, *setup);
    ASSERT_NE(dlg, nullptr);
    const int result = RunShown(*dlg, {[&](QtDialogView& view) {
      if (c.check) c.check(view, *dlg);
      ExpectTidyAndSave(view, c.picture);
      Find<QPushButton>(view, c.close)->click();
    }});
    EXPECT_EQ(result, c.close);
    dcservo::ForgetMeasuredSpectrum();
  }
  ZelSetMotorCatalogueDirectory({});
}

// The tab controls of a dialog and how many pages each has.
std::vector<std::pair<int, int>> TabsOf(const CZel_Dialog& dlg) {
  std::vector<std::pair<int, int>> tabs;
  for (int id : dlg.GetControlIds()) {
    if (dlg.GetControlDef(id)->kind == ZelControlKind::Tab)
      tabs.emplace_back(id, static_cast<int>(dlg.GetControlState(id).items.size()));
  }
  return tabs;
}

// The window shows all of its content, within the room of the smallest screen.
void ExpectWholeWithinRoom(QtDialogView& view) {
  for (int turn = 0; turn < 3; ++turn) QApplication::processEvents();
  EXPECT_LE(view.WantedSize().width(), kDialogRoom.width());
  EXPECT_LE(view.WantedSize().height(), kDialogRoom.height());
  EXPECT_LE(view.width(), kDialogRoom.width());
  EXPECT_LE(view.height(), kDialogRoom.height());
  auto* scroll = view.findChild<QScrollArea*>();
  ASSERT_NE(scroll, nullptr);
  EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
  EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
}

QSize PngFileSize(const std::string& path) { return QImage(QString::fromStdString(path)).size(); }

// Every dialog and test that the plug-in registers, on every page, as a user first meets it
// on the bundled drive, fits the room of the smallest screen whole: nothing is scrolled out of
// sight, and it opens at the size of its content, not of rows that it hid as it came on
// screen. The picture that `edit --screenshot` draws, in a process of its own whose first
// window meets fonts and pictures for the first time, has that size too. The drive setup shows
// other rows in each control mode, so it is measured in all three.
TEST_F(QtDialogs, EveryRegisteredDialogFitsTheSmallestScreen) {
  ZelSetMotorCatalogueDirectory(DCSERVO_RESOURCE_DIR "/motors");
  struct Case {
    std::string dialog;
    int control_mode;  // -1: as the bundled drive has it
  };
  std::vector<Case> cases;
  for (const std::string& name : ZelRegisteredDialogNames()) cases.push_back({name, -1});
  for (int mode : {1, 2}) cases.push_back({dcservo::dialog_names::kDriveSetup, mode});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog + " in control mode " + std::to_string(c.control_mode));
    // The drive setup opens the motor setup on top once it shows; that one is measured alone.
    std::optional<testing_support::ScopedDialogOverride> no_motor;
    if (c.dialog == dcservo::dialog_names::kDriveSetup)
      no_motor.emplace(dcservo::dialog_names::kMotorSetup, nullptr);
    auto setup = testing_support::LoadBundledSetup();
    if (c.control_mode >= 0) {
      // The dialog derives the mode from the chip registers, as a saved setup holds it.
      setup->SetParameterValueInBaseUnit("ControlMode", c.control_mode);
      dcservo::ComputeChipParameters(*setup);
    }
    auto dlg = ZelCreateDialog(c.dialog, *setup);
    ASSERT_NE(dlg, nullptr);
    // Measured as the drive setup opens it, after its notice.
    if (auto* current = dynamic_cast<dcservo::CTestCurrent*>(dlg.get())) current->ShaftBlockedByOpener();
    const std::string shot = testing_support::BinaryDir() + "/qt_fit_" + c.dialog +
                             (c.control_mode >= 0 ? "_mode" + std::to_string(c.control_mode) : "");
    RunShown(*dlg, {[&](QtDialogView& view) {
      ExpectWholeWithinRoom(view);
      EXPECT_EQ(view.size(), view.WantedSize());
      if (c.control_mode < 0) {
        const std::string drawn = shot + "_drawn.png";
        const auto r = testing_support::RunDcservo(
            "edit --dialog " + c.dialog + " --screenshot " + testing_support::ShellQuote(drawn),
            "QT_QPA_PLATFORM=offscreen");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(PngFileSize(drawn), view.size());
      }
      EXPECT_TRUE(view.grab().save(QString::fromStdString(shot + ".png"), "PNG"));
      for (const auto& [tab, pages] : TabsOf(*dlg)) {
        for (int page = 1; page < pages; ++page) {
          SCOPED_TRACE("page " + std::to_string(page));
          ASSERT_TRUE(dlg->UserSelect(tab, page));
          ExpectWholeWithinRoom(view);
          EXPECT_TRUE(view.grab().save(
              QString::fromStdString(shot + "_page" + std::to_string(page) + ".png"), "PNG"));
        }
      }
      dlg->EndDialog(kIdCancel);
    }});
  }
  ZelSetMotorCatalogueDirectory({});
}

// The current test on screen: its parameters page before a run, then after a run on the
// simulated drive the "Test" page with the three curves and the prediction and the figures
// beside them.
TEST_F(QtDialogs, TheCurrentTestShowsItsPagesAndAfterARunItsCurvesAndFigures) {
  auto setup = testing_support::LoadBundledSetup();
  auto drive = dcsim::MakeSimulatedDrive(*setup);
  std::string error;
  ASSERT_TRUE(drive->Inject("shaft_blocked", 1.0, error)) << error;
  CZel_CommSession comm(drive);
  CZel_Comm::SetClock([] { return ZelUi().NowMs() / 1000.0; });
  dcservo::CTestCurrent dlg(*setup);
  dlg.ShaftBlockedByOpener();  // blocked above, as the notice would ask
  RunShown(dlg, {[&](QtDialogView& view) {
    // Each page shows only its own controls, the page chosen on screen is the dialog's, and
    // the sliders stand where the model has them.
    EXPECT_FALSE(Find<QPushButton>(view, kIdcTestStartStop)->isVisible());
    ExpectTidyAndSave(view, "qt_tuning_test.png");
    Find<QTabBar>(view, dcservo::kCtTab)->setCurrentIndex(kTestPage);
    EXPECT_EQ(dlg.GetTabSelection(dcservo::kCtTab), kTestPage);
    EXPECT_FALSE(Find<QLineEdit>(view, dcservo::kCtTestCurrentEdit)->isVisible());
    EXPECT_TRUE(Find<QPushButton>(view, kIdcTestStartStop)->isVisible());
    EXPECT_FALSE(Find<QPushButton>(view, kIdcTestDetails)->isVisible());
    EXPECT_GT(Find<QSlider>(view, dcservo::kCtKpSlider)->value(), 0);
    EXPECT_EQ(Find<QSlider>(view, dcservo::kCtKpSlider)->value(), dlg.SliderGetPos(dcservo::kCtKpSlider));
    Find<QPushButton>(view, dcservo::kCtTune)->click();
    Find<QPushButton>(view, kIdcTestStartStop)->click();
    auto* poll = new QTimer(&view);
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
      if (dlg.m_bTestRunning) return;
      poll->stop();
      EXPECT_EQ(dlg.m_nTestResult, 1) << dlg.m_strError;
      QtGraphView* chart = view.Graph(dcservo::kCtGraph);
      ASSERT_NE(chart, nullptr);
      EXPECT_EQ(chart->SeriesCount(), 4);
      EXPECT_EQ(chart->PointCount(2), 100);
      // Axes in the user's units, and two cursors that read the curves and their difference.
      EXPECT_EQ(chart->AxisTitle(0), "Time [ms]");
      EXPECT_EQ(chart->AxisTitle(1), "Current [A]");
      EXPECT_EQ(chart->AxisTitle(2), "Voltage_Reference [V]");
      chart->SetCursor(0, 0.25);
      chart->SetCursor(1, 4.0);
      const QString readout = chart->CursorReadout();
      EXPECT_TRUE(readout.contains("B-A: 3.75 ms")) << readout.toStdString();
      EXPECT_TRUE(readout.contains(QRegularExpression("Motor_Current \\[A\\] +0 +1\\.5\\d* +1\\.5")))
          << readout.toStdString();
      testing_support::TempDir dir;
      EXPECT_TRUE(chart->Export(QString::fromStdString(dir.File("step.csv"))));
      ExpectTidyAndSave(view, "qt_current_test.png");
      dlg.EndDialog(kIdOk);
    });
    poll->start(20);
  }});
  CZel_Comm::SetClock(nullptr);
}

// Every point of every curve lies within the ranges that its axes show.
void ExpectCurvesWithinAxes(const QtGraphView& chart, const CGraphWindow& graph) {
  ASSERT_GT(chart.SeriesCount(), 0);
  for (int i = 0; i < chart.SeriesCount(); ++i) {
    const int axis = graph.GetFilter()->GetAt(i)->axis == 2 ? 2 : 1;
    const auto x = chart.ShownRange(0), y = chart.ShownRange(axis);
    ASSERT_TRUE(x && y);
    int outside = 0;
    for (const QPointF& p : chart.Points(i))
      outside += p.x() < x->first || p.x() > x->second || p.y() < y->first || p.y() > y->second;
    EXPECT_EQ(outside, 0) << "curve " << i << " of " << chart.PointCount(i) << " points, y axis "
                          << y->first << " to " << y->second;
  }
}

// The speed test on screen on the simulated drive, Start on its "Test" page; `tick` looks at
// the run every millisecond until it answers true, then the dialog closes.
using TuningTick = std::function<bool(QtDialogView&, dcservo::CTuningTestDlg&)>;
void RunSpeedTestOnScreen(CZel_Setup& setup, const TuningTick& tick) {
  auto drive = dcsim::MakeSimulatedDrive(setup);
  CZel_CommSession comm(drive);
  CZel_Comm::SetClock([] { return ZelUi().NowMs() / 1000.0; });
  auto dlg = ZelCreateDialog(dcservo::dialog_names::kSpeedTest, setup);
  auto& test = dynamic_cast<dcservo::CTuningTestDlg&>(*dlg);
  RunShown(test, {[&](QtDialogView& view) {
    ASSERT_TRUE(test.UserSelect(dcservo::kTuningTab, kTestPage));
    Find<QPushButton>(view, kIdcTestStartStop)->click();
    auto* poll = new QTimer(&view);
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
      if (!tick(view, test)) return;
      poll->stop();
      test.EndDialog(kIdOk);
    });
    poll->start(1);
  }});
  CZel_Comm::SetClock(nullptr);
}

// The log of a speed run goes into the plot in about the time the command line takes (here it
// took 24 s, each point drawn on its own and the axes, grown from 0..1 in one step, labelled
// with thousands of ticks), the status counts the points meanwhile, and the plot shows them
// whole. Then Save Plots has them to save, and Escape asks before it lets them go.
// The frequency response on screen after a measurement of a load coupled at 300 Hz: the plots
// with the fit's markers and the texts beside them still fit the smallest screen, tidy, and
// Apply Notch is offered.
TEST_F(QtDialogs, TheFrequencyResponseAfterAMeasurementFitsAndOffersTheNotch) {
  auto setup = testing_support::LoadBundledSetup();
  auto drive = dcsim::MakeSimulatedDrive(*setup);
  std::string error;
  ASSERT_TRUE(drive->Inject("resonance", 300.0, error) &&
              drive->Inject("resonance_damping", 0.01, error))
      << error;
  CZel_CommSession comm(drive);
  CZel_Comm::SetClock([] { return ZelUi().NowMs() / 1000.0; });
  CFrequencyResponseDlg dlg(*setup);
  RunShown(dlg, {[&](QtDialogView& view) {
    Find<QPushButton>(view, dcservo::kFreqMeasure)->click();
    ASSERT_TRUE(dlg.Identified() && dlg.Identified()->coupling);
    EXPECT_TRUE(Find<QPushButton>(view, dcservo::kFreqApplyNotch)->isEnabled());
    ExpectTidyAndSave(view, "qt_frequency_response.png");
    dlg.EndDialog(kIdCancel);
  }});
  CZel_Comm::SetClock(nullptr);
}

TEST_F(QtDialogs, TheSpeedTestUploadsItsLogAndCountsThePoints) {
  // With the tuner's proposal: the raw bundled speed loop fails on its ripple.
  testing_support::TempDir dir;
  auto setup = testing_support::LoadSetupWithScales(testing_support::ProposedSpeedSetup(dir));
  std::vector<std::string> progress;
  RunSpeedTestOnScreen(*setup, [&](QtDialogView& view, dcservo::CTuningTestDlg& test) {
    const std::string status = test.GetChildText(kIdcTestStatus);
    const bool uploading = status.rfind("Uploading results:", 0) == 0;
    if (uploading && (progress.empty() || progress.back() != status)) progress.push_back(status);
    if (test.m_bTestRunning) {
      EXPECT_FALSE(Find<QPushButton>(view, dcservo::kSavePlots)->isEnabled());
      return false;
    }
    EXPECT_EQ(test.m_nTestResult, 1) << test.m_strError;
    EXPECT_FALSE(progress.empty());
    for (const std::string& text : progress)
      EXPECT_THAT(text, ::testing::MatchesRegex(
                            "Uploading results: [0-9]+ of [0-9]+ points \\([0-9]+ %\\)"));
    QtGraphView* chart = view.Graph(dcservo::kLoggerGraph);
    EXPECT_NE(chart, nullptr);
    if (chart) ExpectCurvesWithinAxes(*chart, test.GetLoggerGraph());
    ExpectTidyAndSave(view, "qt_speed_test_uploaded.png");

    // The run can be saved, and Escape asks once before closing would lose it: No stays.
    EXPECT_TRUE(Find<QPushButton>(view, dcservo::kSavePlots)->isEnabled());
    BoxAnswers no(QMessageBox::No);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(Find<QPushButton>(view, kIdcTestStartStop), &escape);
    EXPECT_THAT(no.texts, ElementsAre(dcservo::kDiscardRunQuestion));
    EXPECT_FALSE(test.HasEnded());
    return true;
  });
}

// On line with the scope the plot's axes follow the points as they come in (they stayed at
// 0..1 and cut the curves off), and the run measures its cycle.
TEST_F(QtDialogs, DuringAScopeRunTheAxesFollowTheData) {
  auto setup = testing_support::LoadBundledSetup();
  ASSERT_TRUE(setup->SetParameterValueInBaseUnit("OnlinePlotS", 1));
  bool looked = false;
  RunSpeedTestOnScreen(*setup, [&](QtDialogView& view, dcservo::CTuningTestDlg& test) {
    QtGraphView* chart = view.Graph(dcservo::kOnlineGraph);
    if (test.m_bTestRunning) {
      if (looked || !chart || chart->PointCount(0) < 200) return false;
      looked = true;
      ExpectCurvesWithinAxes(*chart, test.GetOnlineGraph());
      ExpectTidyAndSave(view, "qt_speed_test_scope_running.png");
      return false;
    }
    EXPECT_TRUE(looked);
    EXPECT_EQ(test.m_nTestResult, 1) << test.m_strError;
    EXPECT_EQ(test.GetFigures().cycles.size(), 1u);
    if (chart) ExpectCurvesWithinAxes(*chart, test.GetOnlineGraph());
    return true;
  });
}

// A click as the window system delivers it: to the widget's window, where Qt drops the input
// of a window that a modal dialog blocks (a button's click() goes around that check). Near the
// left edge, where a check box has its box.
void ClickAsAPerson(QWidget* widget) {
  QWidget* top = widget->window();
  const QPoint at(std::min(8, widget->width() / 2), widget->height() / 2);
  QTest::mouseClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier, widget->mapTo(top, at));
}

// The simulated drive's panel is the drive's hardware, not part of a dialog: while a dialog
// is modal, and a message box over it, a person still blocks and frees the shaft, turns it and
// injects faults (the panel ignored every click while any dialog was open). Its boxes follow
// the drive's state set from elsewhere (the notices and the end of a test did not show).
TEST_F(QtDialogs, TheDrivePanelAnswersWhileDialogsAreOpenAndShowsTheDrivesState) {
  auto setup = testing_support::LoadBundledSetup();
  auto drive = dcsim::MakeSimulatedDrive(*setup);
  CZel_CommSession comm(drive);
  QtSimulatedDrivePanel panel(drive);
  panel.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
  auto* blocked = panel.findChild<QCheckBox*>("shaft_blocked");
  auto* turn = panel.findChild<QPushButton*>("turn");
  ASSERT_TRUE(blocked && turn);
  auto shaft_blocked = [&drive] { return drive->GetPlant().Faults().shaft_blocked; };
  auto small = SmallSetup();
  RecordingDialog dlg(*small), nested(*small);
  // The test dialog opens another (as the speed test opens the filters), which is modal.
  RunShown(dlg, {[&](QtDialogView&) {
    nested.DoModal();
    dlg.EndDialog(kIdOk);
  },
  [&](QtDialogView&) {
    ClickAsAPerson(blocked);
    EXPECT_TRUE(shaft_blocked()) << "a click on the panel under a modal dialog";
    // Over a message box of the dialog: free the shaft, turn it, then answer the box.
    std::vector<std::string> answered;
    QTimer::singleShot(0, [&] {
      ClickAsAPerson(blocked);
      EXPECT_FALSE(shaft_blocked()) << "a click on the panel under a message box";
      ClickAsAPerson(turn);
      EXPECT_THAT(panel.Status().toStdString(), HasSubstr("turn"));
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
          answered.push_back(box->text().toStdString());
          box->button(QMessageBox::Ok)->click();
        }
      }
    });
    ZelMessageBox("Turn the shaft by hand.");
    EXPECT_THAT(answered, ElementsAre("Turn the shaft by hand."));
    // Set from elsewhere, as a notice does: the box follows within a moment.
    std::string error;
    ASSERT_TRUE(drive->Inject("shaft_blocked", 1.0, error)) << error;
    QTest::qWait(3 * QtSimulatedDrivePanel::kFollowPeriod_ms);
    EXPECT_TRUE(blocked->isChecked());
    nested.EndDialog(kIdOk);
  }});
}

// The link's window: the drive's address and whether it answers, a notice the moment it stops
// answering, the reason shown whole (a shown window kept its first size and cut the reason
// after one line), and a new link as soon as the drive serves again.
TEST_F(QtDialogs, TheLinkWindowSaysWhenTheDriveStopsAnsweringAndReconnects) {
  const std::string address = "tcp://127.0.0.1:1502";
  auto first = std::make_shared<testing_support::FakeDrive>();
  CZel_CommSession comm(first);
  std::string refusal = "connecting to 127.0.0.1:1502 (unit id 1): Connection refused";
  std::shared_ptr<testing_support::FakeDrive> second;
  QtDriveLinkPanel panel(address, [&]() -> std::string {
    if (!refusal.empty()) return refusal;
    second = std::make_shared<testing_support::FakeDrive>();
    CZel_Comm::Attach(second);
    return {};
  });
  panel.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
  EXPECT_EQ(panel.StateText().toStdString(), address + ": connected");

  first->Lose("the link to the drive at " + address + " was lost: Connection reset by peer");
  panel.Follow();
  EXPECT_FALSE(panel.Connected());
  auto* notice = [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "link_lost" && w->isVisible()) return qobject_cast<QMessageBox*>(w);
    return static_cast<QMessageBox*>(nullptr);
  }();
  ASSERT_NE(notice, nullptr);
  EXPECT_THAT(notice->text().toStdString(), HasSubstr("Connection reset by peer"));
  notice->close();
  EXPECT_THAT(panel.StateText().toStdString(),
              HasSubstr(": lost; trying again every 2 s (" + refusal + ")"));
  const auto* state = panel.findChild<QLabel*>("link_state");
  ASSERT_NE(state, nullptr);
  EXPECT_GE(state->height(), state->heightForWidth(state->width())) << "the reason is cut";

  refusal.clear();
  panel.Follow(true);
  EXPECT_TRUE(panel.Connected());
  EXPECT_EQ(CZel_Comm::GetLink(), second.get());
  EXPECT_EQ(panel.StateText().toStdString(), address + ": connected");
}

// Where a dialog opens: centred on the dialog below it, and moved as little as needed to lie
// within the screen (on a bare X server the advanced dialog opened 91 px past the right edge).
TEST_F(QtDialogs, ADialogOpensCentredOnItsParentAndWithinTheScreen) {
  auto setup = SmallSetup();
  RecordingDialog parent(*setup), child(*setup), pushed(*setup);
  RunShown(parent, {[&](QtDialogView& below) {
                      child.DoModal();
                      below.move(below.screen()->availableGeometry().topRight() -
                                 QPoint(below.width() / 3, -10));
                      pushed.DoModal();
                      parent.EndDialog(kIdOk);
                    },
                    [&](QtDialogView& view) {
                      const QPoint off = view.geometry().center() -
                                         view.parentWidget()->geometry().center();
                      EXPECT_LE(off.manhattanLength(), 2) << off.x() << ", " << off.y();
                      child.EndDialog(kIdOk);
                    },
                    [&](QtDialogView& view) {
                      const QRect screen = view.screen()->availableGeometry();
                      EXPECT_TRUE(screen.contains(view.geometry()))
                          << view.x() << ", " << view.y() << " size " << view.width() << " x "
                          << view.height();
                      pushed.EndDialog(kIdOk);
                    }});
}

// A plot of `points` points on one stroke, with a title.
ZelPlotScene ZigzagPlot(int points) {
  ZelPlotScene scene{800, 500, 80, 40, 780, 450, {}};
  ZelPlotStroke stroke{{}, 0xcc0000, 2.0, true};
  for (int i = 0; i < points; ++i) stroke.points.push_back({80.0 + i * 0.7, i % 2 ? 60.0 : 440.0});
  scene.items.push_back(stroke);
  scene.items.push_back(ZelPlotLabel{400, 20, "Zigzag", 15, ZelTextAnchor::Middle});
  return scene;
}

std::string PrintedReport(const std::string& placeholder, int paragraphs) {
  ZelReportDocument report{"Printed", "<h1>Printed</h1>" + placeholder, {ZigzagPlot(1000)}};
  for (int i = 0; i < paragraphs; ++i) report.html += "<p>A paragraph of the report.</p>";
  std::string pdf;
  EXPECT_EQ(DrawReportPdf(report, pdf), "");
  EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
  return pdf;
}

// A plot stands where its placeholder stands, drawn as lines (the PDF grows by its thousand
// points, and holds no picture); a placeholder that names no plot takes no room and draws
// nothing, not a broken picture. Text that does not fit goes on to further A4 pages.
TEST_F(QtDialogs, AReportIsPrintedOnA4PagesWithItsPlotsDrawnAsLines) {
  const std::string with_plot = PrintedReport(ZelPlotPlaceholder(0), 1);
  const std::string no_such_plot = PrintedReport(ZelPlotPlaceholder(7), 1);
  EXPECT_EQ(testing_support::PdfPageCount(with_plot), 1);
  EXPECT_GT(with_plot.size(), no_such_plot.size() + 2000);
  for (const std::string* pdf : {&with_plot, &no_such_plot}) {
    EXPECT_EQ(pdf->find("/Subtype /Image"), std::string::npos);
    EXPECT_NE(pdf->find("/MediaBox [0 0 595"), std::string::npos);
  }
  EXPECT_GT(testing_support::PdfPageCount(PrintedReport(ZelPlotPlaceholder(0), 200)), 2);
}

// Two runs of the program print the same record into the same file: each run hashes with a
// seed of its own, and the printer's fonts must not come out in the order of that hash. The
// seed changes here between prints as it would between runs; only the creation time may differ.
TEST_F(QtDialogs, AReportPrintsTheSameBytesWhateverTheRunsHashSeed) {
  const ZelReportDocument report{"Printed", "<h1>Printed</h1><p>Plain, <b>bold</b>.</p>", {}};
  const std::regex created("/CreationDate \\(D:[0-9]+Z\\)");
  auto print = [&] {
    std::string pdf;
    EXPECT_EQ(DrawReportPdf(report, pdf), "");
    return std::regex_replace(pdf, created, "");
  };
  const std::string first = print();
  ASSERT_NE(first.find("DejaVuSans-Bold"), std::string::npos) << "two typefaces to order";
  for (int run = 0; run < 8; ++run) {
    QHashSeed::resetRandomGlobalSeed();
    EXPECT_TRUE(print() == first) << "run " << run << " printed other bytes";
  }
}

// Several plots go in at once: each placeholder, wherever it stands among the text, gets its
// own plot's thousand points, and one that names no plot still adds nothing.
TEST_F(QtDialogs, EveryPlotOfAReportIsDrawnWhereItsPlaceholderStands) {
  struct Case {
    std::string html;
    std::size_t plots_drawn;
  };
  const std::string p = "<p>Text.</p>";
  const std::vector<Case> cases = {
      {p, 0},
      {ZelPlotPlaceholder(0) + p, 1},
      {p + ZelPlotPlaceholder(1) + p + ZelPlotPlaceholder(0), 2},
      {ZelPlotPlaceholder(1) + ZelPlotPlaceholder(9) + p + ZelPlotPlaceholder(0) + p, 2},
  };
  // A second plot unlike the first, so that the packed stream cannot share their points.
  ZelPlotScene scattered = ZigzagPlot(1000);
  auto& stroke = std::get<ZelPlotStroke>(scattered.items.front());
  for (std::size_t i = 0; i < stroke.points.size(); ++i) stroke.points[i].y = 60.0 + (i * i) % 380;
  std::size_t bare_size = 0;
  for (const Case& c : cases) {
    ZelReportDocument report{"Printed", "<h1>Printed</h1>" + c.html,
                             {ZigzagPlot(1000), scattered}};
    std::string pdf;
    ASSERT_EQ(DrawReportPdf(report, pdf), "") << c.html;
    if (c.plots_drawn == 0) bare_size = pdf.size();
    // A plot's thousand points take more than 2000 bytes however the stream is packed.
    EXPECT_GE(pdf.size(), bare_size + 2000 * c.plots_drawn) << c.html;
  }
}

// The packed streams of a PDF (its pages among them), unpacked.
std::vector<std::string> PdfStreams(const std::string& pdf) {
  std::vector<std::string> streams;
  for (std::size_t at = pdf.find("stream\n"); at != std::string::npos;
       at = pdf.find("stream\n", at + 1)) {
    if (at >= 3 && pdf.compare(at - 3, 3, "end") == 0) continue;
    const std::size_t dictionary = pdf.rfind("<<", at);
    if (dictionary == std::string::npos ||
        pdf.substr(dictionary, at - dictionary).find("/FlateDecode") == std::string::npos)
      continue;
    const std::size_t begin = at + 7, end = pdf.find("endstream", begin);
    if (end == std::string::npos) break;
    // qUncompress wants the unpacked size first; a generous one will do.
    QByteArray packed("\x00\x01\x00\x00", 4);
    packed.append(pdf.data() + begin, static_cast<qsizetype>(end - begin));
    const QByteArray unpacked = qUncompress(packed);
    if (!unpacked.isEmpty()) streams.emplace_back(unpacked.constData(), unpacked.size());
    at = end;
  }
  return streams;
}

// A bordered table, as the record writes its tables, runs onto further pages: each page it
// runs onto draws its rules (the grey of its cells' edges), which the page draws itself, and
// as many pages as the table's text needs, whether its style gives the edges or the document
// hands them apart; a table without edges, or with edges of no width, draws no rule.
TEST_F(QtDialogs, ATableThatRunsOntoFurtherPagesHasItsRulesOnEachOfThem) {
  struct Case {
    const char* style;
    std::optional<ZelCellEdge> edge;
    bool ruled;
  };
  const Case cases[] = {
      {"table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:.2em .6em}", {}, true},
      {"table{border-collapse:collapse}td,th{padding:.2em .6em}", {}, false},
      {"table{border-collapse:collapse}td,th{padding:.2em .6em}", ZelCellEdge{1, 0xBBBBBB}, true},
      {"table{border-collapse:collapse}td,th{padding:.2em .6em}", ZelCellEdge{0, 0xBBBBBB}, false},
      {"table{border-collapse:collapse}td,th{padding:.2em .6em}",
       ZelCellEdge{std::nan(""), 0xBBBBBB}, false},
  };
  const std::string grey = "0.733333349 0.733333349 0.733333349 SCN";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.style);
    std::string html = std::string("<html><head><style>") + c.style +
                       "</style></head><body><h1>Rows</h1><table><thead><tr><th>Row</th>"
                       "<th>Meaning</th></tr></thead>";
    for (int row = 0; row < 150; ++row)
      html += "<tr><td>" + std::to_string(row) + "</td><td>a row of the table</td></tr>";
    html += "</table></body></html>";
    ZelReportDocument report{"Rows", html, {}};
    report.cell_edge = c.edge;
    std::string pdf;
    ASSERT_EQ(DrawReportPdf(report, pdf), "");
    const int pages = testing_support::PdfPageCount(pdf);
    EXPECT_GE(pages, 3);
    int ruled_pages = 0, page_streams = 0;
    for (const std::string& stream : PdfStreams(pdf)) {
      if (stream.find(" Tf ") == std::string::npos) continue;  // not a page's text
      ++page_streams;
      if (stream.find(grey) != std::string::npos) ++ruled_pages;
    }
    EXPECT_EQ(page_streams, pages);
    EXPECT_EQ(ruled_pages, c.ruled ? pages : 0);
  }
}

// A ruled table's rows are as tall as their cells' padding makes them, whether a cell pads
// alike above and below or not: a long table of rows two ems apart takes as many pages
// however the two ems are shared, and more than rows with less padding.
TEST_F(QtDialogs, ARuledTablesRowsKeepTheirCellsPadding) {
  struct Case {
    const char* padding;
    int pages;  // 0: as the first case
  };
  const Case cases[] = {
      {"1em .6em", 0},
      {".2em .6em 1.8em", 0},
      {"1.8em .6em .2em", 0},
      {".2em .6em", -1},  // fewer
  };
  int two_ems = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.padding);
    std::string html = std::string("<html><head><style>table{border-collapse:collapse}"
                                   "td{border:1px solid #bbb;padding:") +
                       c.padding + "}</style></head><body><table>";
    for (int row = 0; row < 120; ++row) html += "<tr><td>" + std::to_string(row) + "</td></tr>";
    html += "</table></body></html>";
    std::string pdf;
    ASSERT_EQ(DrawReportPdf({"Rows", html, {}}, pdf), "");
    const int pages = testing_support::PdfPageCount(pdf);
    if (two_ems == 0) two_ems = pages;
    if (c.pages == 0) EXPECT_EQ(pages, two_ems);
    else EXPECT_LT(pages, two_ems);
  }
  EXPECT_GE(two_ems, 3);
}

// A PDF without the moment it was made.
std::string Timeless(std::string pdf) {
  const std::size_t at = pdf.find("/CreationDate (");
  if (at != std::string::npos) pdf.erase(at, pdf.find(')', at) - at);
  return pdf;
}

// The body's typeface handed apart from the markup sets the text's as the same typeface in
// the markup's style does, to the byte; an element that names its own keeps it. (The page
// number is always in the sans face.)
TEST_F(QtDialogs, APrintedReportsTextIsInTheTypefaceItsPrintStyleGives) {
  struct Case {
    const char* typeface;
    bool serif, mono;  // embedded
  };
  const Case cases[] = {
      {"serif", true, true},
      {"monospace", false, true},
      {"", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typeface);
    const std::string face = *c.typeface ? std::string("font-family:") + c.typeface + ";" : "";
    auto page = [](const std::string& body_style) {
      return "<html><head><style>p{margin:0}body{" + body_style +
             "color:#222}</style></head><body><p>Plain text</p>"
             "<p style=\"font-family:monospace\">Code</p></body></html>";
    };
    ZelReportDocument handed{"Faces", page(""), {}};
    handed.body_typeface = c.typeface;
    std::string pdf, in_style;
    ASSERT_EQ(DrawReportPdf(handed, pdf), "");
    ASSERT_EQ(DrawReportPdf({"Faces", page(face), {}}, in_style), "");
    EXPECT_EQ(pdf.find("/DejaVuSerif") != std::string::npos, c.serif);
    EXPECT_EQ(pdf.find("/DejaVuSansMono") != std::string::npos, c.mono);
    EXPECT_TRUE(Timeless(pdf) == Timeless(in_style));
  }
}

// The edge of every cell handed apart from the markup is the same on the page as the same
// edge written in the markup's style, which the reader sets on each cell: a ruled table, a
// table of separate edges, a table nested in a cell, cells padded unlike each other.
TEST_F(QtDialogs, ATablesEdgesLookTheSameHandedApartOrInTheStyle) {
  const std::string rows = "<tr><th>Row</th><td>a row of the table</td></tr>"
                           "<tr><td>1</td><td>another</td></tr>";
  const char* const bodies[] = {
      "<table>{rows}</table>",
      "<table class=\"apart\">{rows}</table>",
      "<table><tr><td>outer</td><td><table>{rows}</table></td></tr></table>",
      "<table><tr><td class=\"roomy\">roomy</td><td>tight</td></tr>{rows}</table>",
  };
  for (const char* body : bodies) {
    SCOPED_TRACE(body);
    auto page = [&](const std::string& edge) {
      std::string html = "<html><head><style>table{border-collapse:collapse}td,th{" + edge +
                         "padding:.2em .6em}.apart{border-collapse:separate}.roomy{padding:1em}"
                         "</style></head><body>" + body + "</body></html>";
      html.replace(html.find("{rows}"), 6, rows);
      return html;
    };
    ZelReportDocument handed{"Edges", page(""), {}};
    handed.cell_edge = ZelCellEdge{1.0, 0xBBBBBB};
    std::string pdf, in_style;
    ASSERT_EQ(DrawReportPdf(handed, pdf), "");
    ASSERT_EQ(DrawReportPdf({"Edges", page("border:1px solid #bbb;"), {}}, in_style), "");
    const std::vector<std::string> streams = PdfStreams(pdf);
    EXPECT_TRUE(std::any_of(streams.begin(), streams.end(), [](const std::string& stream) {
      return stream.find("0.733333349 0.733333349 0.733333349") != std::string::npos;
    })) << "no grey edge drawn";
    EXPECT_TRUE(Timeless(pdf) == Timeless(in_style));
  }
}

// The page that each "Section N" heading of a printed report stands on (0 where none).
std::vector<int> SectionPages(const std::string& pdf, std::size_t sections) {
  testing_support::TempDir dir;
  const std::string path = dir.File("report.pdf");
  testing_support::WriteFile(path, pdf);
  std::vector<int> pages(sections, 0);
  for (int page = 1; page <= testing_support::PdfPageCount(pdf); ++page) {
    const std::string text = testing_support::PdfPageText(path, page);
    for (std::size_t n = 0; n < sections; ++n) {
      const std::string heading = "Section " + std::to_string(n) + "\n";
      if (pages[n] == 0 && text.find(heading) != std::string::npos) pages[n] = page;
    }
  }
  return pages;
}

// A heading goes to the next page with its verdict and plot where the page would part them,
// one heading at a time from the first, as each move shifts what follows: a later heading
// may come off the foot of a page, land on it, or stand too high for its plot to count. The
// sections have so many lines of text before them; the pages are the rule's.
TEST_F(QtDialogs, AHeadingGoesToTheNextPageWithItsVerdictAndPlot) {
  struct Case {
    std::vector<int> lines_before;  // of each section
    std::vector<int> pages;         // of each section's heading
  };
  const Case cases[] = {
      {{8, 2, 12}, {1, 2, 3}},
      {{5, 4, 22}, {1, 2, 3}},
      {{5, 1, 6}, {1, 2, 3}},
      {{30, 2, 1}, {2, 2, 3}},
      {{24, 0, 26, 4, 4}, {2, 2, 4, 4, 5}},
      {{30, 13, 8, 5, 34}, {2, 3, 4, 5, 6}},
      {{1, 7, 8, 6, 13}, {1, 2, 3, 4, 5}},
  };
  for (const Case& c : cases) {
    ZelReportDocument report{"Sections", "<h1>Sections</h1>", {}};
    for (std::size_t n = 0; n < c.lines_before.size(); ++n) {
      for (int i = 0; i < c.lines_before[n]; ++i) report.html += "<p>A line of the report.</p>";
      report.html += "<h2>Section " + std::to_string(n) + "</h2><p>Verdict " + std::to_string(n) +
                     "</p>" + ZelPlotPlaceholder(n);
      report.plots.push_back(ZigzagPlot(50));
    }
    std::string pdf;
    ASSERT_EQ(DrawReportPdf(report, pdf), "");
    EXPECT_EQ(SectionPages(pdf, c.lines_before.size()), c.pages)
        << ::testing::PrintToString(c.lines_before);
  }
}

}  // namespace
