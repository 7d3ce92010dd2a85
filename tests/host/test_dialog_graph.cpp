// Graph services: curves on channels, zoom out, drawing point by point as an upload does, and
// the saved picture and data.

#include <filesystem>
#include <cstdio>
#include <regex>
#include <sstream>

#include "host/zel_graph.h"
#include "tests/host/test_dialog_fixture.h"

namespace {

using namespace dialog_testing;
using ::testing::Contains;
using ::testing::StartsWith;

constexpr int kGraph = 1361;

ZelDialogTemplate GraphTemplate() {
  ZelDialogTemplate t;
  t.id = 9201;
  t.caption = "Plot";
  t.controls = {{kGraph, ZelControlKind::Graph, "", 0, {0, 0}},
                {kIdOk, ZelControlKind::Button, "OK", 0, {1, 0}}};
  return t;
}

// Point i of a logged step response: time, reference, measured and voltage.
void AddStepPoint(CGraphDocument& doc, int i) {
  doc.AddPoint({i * 1e-4, 2.0, 2.0 * (1.0 - std::exp(-i / 10.0)), 24.0 * std::exp(-i / 10.0)});
}

class Graph : public HeadlessTest {
 protected:
  Graph() {
    for (const char* name : {"time", "Current_Reference", "Motor_Current", "Voltage_Reference"})
      doc_.AddChannel(name, name[0] == 't' ? "s" : "");
    CGraphFilter& f = *doc_.GetAt(0);
    f.AddCurve("Current_Reference", 0, 1, 1, 2, RGB16(2));
    f.AddCurve("Voltage_Reference", 0, 3, 2, 2, RGB16(8));
    f.AddCurve("Motor_Current", 0, 2, 1, 2, RGB16(5));
  }
  CZel_Dialog dlg_{GraphTemplate()};
  CGraphDocument doc_;
  CGraphWindow graph_;
};

TEST_F(Graph, AnUploadDrawsPointByPointAndZoomsToTheData) {
  ui_.Then([&](CZel_Dialog& top) {
    ASSERT_EQ(graph_.SubclassDlgItem(kGraph, &top, doc_.GetAt(0)), 1);
    graph_.RefreshGraph();
    graph_.DoZoomOut();
    for (int i = 0; i < 50; ++i) {
      AddStepPoint(doc_, i);
      graph_.UpdateLastPoint();
    }
    top.SetWindowText("Plot of the run");
    graph_.DoZoomOut();
  });
  ui_.Then(Close(kIdOk));
  dlg_.DoModal();

  EXPECT_EQ(graph_.GetDrawnPointCount(), 50);
  EXPECT_DOUBLE_EQ(graph_.GetXRange().lo, 0.0);
  EXPECT_DOUBLE_EQ(graph_.GetXRange().hi, 49e-4);
  // Left axis: currents 0..2 with a margin; right axis: the voltage.
  EXPECT_DOUBLE_EQ(graph_.GetYRange(1).lo, -0.1);
  EXPECT_DOUBLE_EQ(graph_.GetYRange(1).hi, 2.1);
  EXPECT_LT(graph_.GetYRange(2).lo, 24.0 * std::exp(-4.9));
  EXPECT_DOUBLE_EQ(graph_.GetYRange(2).hi, 24.0 + 0.05 * (24.0 - 24.0 * std::exp(-4.9)));

  const auto& events = ui_.GraphEvents();
  ASSERT_EQ(events.size(), 53u);
  EXPECT_EQ(events[0].event, ZelGraphEvent::Refresh);
  EXPECT_EQ(events[1].event, ZelGraphEvent::ZoomOut);
  EXPECT_EQ(events[2].event, ZelGraphEvent::LastPoint);
  EXPECT_EQ(events[51].point, 49);
  EXPECT_EQ(events[52].event, ZelGraphEvent::ZoomOut);
  // Each event names the dialog by the caption it had then.
  EXPECT_EQ(events[0].dialog, "Plot");
  EXPECT_EQ(events[51].dialog, "Plot");
  EXPECT_EQ(events[52].dialog, "Plot of the run");
}

// While points come in one by one (an upload, a scope's sweep), every point drawn lies within
// the ranges, which move seldom and start from the data, not from 0..1; a ring's replaced
// point is taken in as well.
TEST_F(Graph, RangesFollowThePointsAsTheyComeIn) {
  ASSERT_EQ(graph_.SubclassDlgItem(kGraph, &dlg_, doc_.GetAt(0)), 1);
  graph_.DoZoomOut();
  auto inside = [](ZelAxisRange r, double v) { return r.lo <= v && v <= r.hi; };
  int moves = 0;
  ZelAxisRange last_x = graph_.GetXRange();
  for (int i = 0; i < 1000; ++i) {
    AddStepPoint(doc_, i);
    graph_.UpdateLastPoint();
    ASSERT_TRUE(inside(graph_.GetXRange(), doc_.GetValue(0, i))) << i;
    for (int channel : {1, 2})
      ASSERT_TRUE(inside(graph_.GetYRange(1), doc_.GetValue(channel, i))) << i;
    ASSERT_TRUE(inside(graph_.GetYRange(2), doc_.GetValue(3, i))) << i;
    moves += graph_.GetXRange().hi != last_x.hi;
    last_x = graph_.GetXRange();
  }
  EXPECT_LT(moves, 40);
  EXPECT_DOUBLE_EQ(graph_.GetXRange().lo, 0.0);
  // The currents' own range (0 to 2) with room to spare.
  EXPECT_GT(graph_.GetYRange(1).lo, -1.0);
  EXPECT_LT(graph_.GetYRange(1).hi, 3.0);

  doc_.SetPoint(500, {0.05, 2.0, -7.0, 0.0});
  graph_.UpdatePoint(500);
  EXPECT_TRUE(inside(graph_.GetYRange(1), -7.0));
  // Zooming out fits the ranges to the data again.
  graph_.DoZoomOut();
  EXPECT_DOUBLE_EQ(graph_.GetXRange().hi, 999e-4);
}

TEST_F(Graph, ZoomOutOfNothingOrOfAConstantStillHasARange) {
  ASSERT_EQ(graph_.SubclassDlgItem(kGraph, &dlg_, doc_.GetAt(0)), 1);
  graph_.DoZoomOut();
  EXPECT_LT(graph_.GetXRange().lo, graph_.GetXRange().hi);
  doc_.AddPoint({1.0, 5.0, 5.0, 5.0});
  graph_.RefreshGraph();
  graph_.DoZoomOut();
  EXPECT_DOUBLE_EQ(graph_.GetXRange().lo, 0.9);
  EXPECT_DOUBLE_EQ(graph_.GetXRange().hi, 1.1);
  EXPECT_DOUBLE_EQ(graph_.GetYRange(1).lo, 4.5);
}

TEST_F(Graph, OnlyAGraphControlTakesAGraphAndItDetachesOnDestruction) {
  ZelCollectErrors errors;
  EXPECT_EQ(graph_.SubclassDlgItem(kIdOk, &dlg_, doc_.GetAt(0)), 0);
  EXPECT_EQ(graph_.SubclassDlgItem(4242, &dlg_, doc_.GetAt(0)), 0);
  EXPECT_EQ(errors.Messages().size(), 2u);
  EXPECT_EQ(dlg_.GetGraph(kGraph), nullptr);
  {
    CGraphWindow local;
    local.SubclassDlgItem(kGraph, &dlg_, doc_.GetAt(0));
    EXPECT_EQ(dlg_.GetGraph(kGraph), &local);
  }
  EXPECT_EQ(dlg_.GetGraph(kGraph), nullptr);
}

TEST_F(Graph, SavesPictureAsPngAndSvgAndDataAsCsv) {
  testing_support::TempDir dir;
  graph_.SubclassDlgItem(kGraph, &dlg_, doc_.GetAt(0));
  for (int i = 0; i < 3; ++i) AddStepPoint(doc_, i);
  graph_.SetTitle("Current <step> & response");
  graph_.RefreshGraph();
  graph_.DoZoomOut();
  ASSERT_EQ(graph_.CreateWMF(dir.File("CurrentTuning")), 1);

  const std::string csv = testing_support::ReadFile(dir.File("CurrentTuning.csv"));
  EXPECT_THAT(csv, StartsWith("time [s],Current_Reference,Motor_Current,Voltage_Reference\n"
                              "0,2,0,24\n0.0001,2,0.190325164,21.716098\n"));
  const std::string svg = testing_support::ReadFile(dir.File("CurrentTuning.svg"));
  EXPECT_THAT(svg, StartsWith("<svg xmlns=\"http://www.w3.org/2000/svg\""));
  EXPECT_THAT(svg, HasSubstr("Current &lt;step&gt; &amp; response"));
  EXPECT_THAT(svg, HasSubstr("stroke=\"#d62728\""));  // RGB16(2)
  EXPECT_THAT(svg, HasSubstr("Voltage_Reference (right)"));
  const std::string png = testing_support::ReadFile(dir.File("CurrentTuning.png"));
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(png.substr(16, 8), std::string("\0\0\x03\x20\0\0\x01\xf4", 8));  // 800 x 500
  // Mostly white runs: the picture compresses far below its raw 400 kB.
  EXPECT_LT(png.size(), 40000u);
}

TEST_F(Graph, SavingNeedsAFilterAndAWritableFolder) {
  EXPECT_EQ(graph_.CreateWMF("/tmp/unattached"), 0);
  graph_.SubclassDlgItem(kGraph, &dlg_, doc_.GetAt(0));
  ZelCollectErrors errors;
  EXPECT_EQ(graph_.CreateWMF("/no/such/folder/plot"), 0);
  EXPECT_EQ(errors.Messages().size(), 1u);
}

// The texts of an SVG, in document order.
std::vector<std::string> SvgTexts(const std::string& svg) {
  static const std::regex text("<text[^>]*>([^<]*)</text>");
  std::vector<std::string> texts;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), text); it != std::sregex_iterator();
       ++it)
    texts.push_back((*it)[1]);
  return texts;
}

// A position plot that moves by one count in 1541 rad: every picture says what it shows, in
// which units, with tick labels that tell the ticks apart, and a key.
TEST_F(Graph, ThePictureCarriesATitleAxisTitlesWithUnitsDistinctTicksAndAKey) {
  CGraphDocument doc;
  doc.AddChannel("Time", "ms");
  doc.AddChannel("Load_Position_Reference", "rad");
  doc.AddChannel("Load_Position", "rad");
  doc.AddChannel("Motor_Current", "A");
  CGraphFilter& f = *doc.GetAt(0);
  f.AddCurve("Load_Position_Reference", 0, 1, 1, 2, RGB16(1));
  f.AddCurve("Load_Position", 0, 2, 1, 2, RGB16(2));
  f.AddCurve("Motor_Current", 0, 3, 2, 1, RGB16(3));
  for (int i = 0; i <= 100; ++i)
    doc.AddPoint({i * 0.5, 1541.0 + (i > 10), 1541.0 + (i > 12) * (1 - std::exp(-(i - 12) / 8.0)),
                  i > 10 && i < 30 ? 2.5 : 0.0});
  graph_.SubclassDlgItem(kGraph, &dlg_, &f);
  graph_.RefreshGraph();
  graph_.DoZoomOut();

  const std::vector<std::string> texts = SvgTexts(ZelGraphSvgText(graph_));
  // Without a title of its own a plot takes its dialog's caption.
  for (const char* expected : {"Plot", "Time [ms]", "Rotary position [rad]", "Motor_Current [A]",
                               "Load_Position_Reference", "Load_Position", "Motor_Current (right)"})
    EXPECT_THAT(texts, Contains(expected));
  // The left axis's labels: numbers, each once, evenly apart.
  std::vector<double> left;
  for (const std::string& t : texts)
    if (t.rfind("154", 0) == 0) left.push_back(std::stod(t));
  ASSERT_GE(left.size(), 4u);
  for (std::size_t i = 1; i < left.size(); ++i)
    EXPECT_NEAR(left[i] - left[i - 1], left[1] - left[0], 1e-9) << i;
  EXPECT_GT(left[1] - left[0], 0.0);

  graph_.SetTitle("Position step");
  graph_.SetAxisTitle(1, "Load position [rad]");
  const std::vector<std::string> own = SvgTexts(ZelGraphSvgText(graph_));
  EXPECT_THAT(own, Contains("Position step"));
  EXPECT_THAT(own, Contains("Load position [rad]"));
}

TEST(GraphTicks, LabelsHaveTheDecimalsThatTellTheirStepsApart) {
  const struct {
    double value, step;
    const char* label;
  } cases[] = {
      {1541.2, 0.2, "1541.2"}, {1541.0, 0.2, "1541.0"}, {2500.0, 500.0, "2500"},
      {3e-4, 1e-4, "0.0003"},  {-1.5, 0.5, "-1.5"},     {-1e-17, 0.1, "0.0"},
      {0.25, 0.05, "0.25"},    {7.0, 0.0, "7"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ZelTickLabel(c.value, c.step), c.label) << c.value << " " << c.step;
}

TEST(GraphAxisTitles, NameTheQuantityTheCurveOrTheUnitsThatDiffer) {
  ZelDialogTemplate t = GraphTemplate();
  CZel_Dialog dlg(t);
  const struct {
    std::vector<std::pair<std::string, std::string>> curves;  // name, unit; all on the left
    std::string title;
  } cases[] = {
      {{{"Speed_Reference", "rpm"}, {"Motor_Speed", "rpm"}}, "Rotary speed [rpm]"},
      {{{"Motor_Current", "A"}, {"Motor_Voltage", "V"}}, "[A, V]"},
      {{{"Gain", "dB"}}, "Gain [dB]"},
      {{{"Count", ""}}, "Count"},
  };
  for (const auto& c : cases) {
    CGraphDocument doc;
    doc.AddChannel("Time", "s");
    for (const auto& [name, unit] : c.curves)
      doc.GetAt(0)->AddCurve(name, 0, doc.AddChannel(name, unit), 1, 2, 0);
    CGraphWindow graph;
    graph.SubclassDlgItem(kGraph, &dlg, doc.GetAt(0));
    EXPECT_EQ(ZelGraphAxisTitle(graph, 0), "Time [s]");
    EXPECT_EQ(ZelGraphAxisTitle(graph, 1), c.title);
    EXPECT_EQ(ZelGraphAxisTitle(graph, 2), "");
  }
}

// The saved data holds each sample as printf's %.9g writes it, and the picture each coordinate
// as a stream writes it by default (%g): the record's files stay what they were, whatever
// writes the digits, at the ends of the range as in it.
TEST_F(Graph, SamplesAndCoordinatesAreWrittenAsPrintfWouldWriteThem) {
  const std::vector<double> samples = {0.1,     1.0 / 3.0, -0.0,     123456789.5, 1e21,
                                       -2.5e-7, 4.9e-324,  1e-5,     999999999.9, 100000.0,
                                       0.0001,  -1e-310,   12345.678};
  CGraphDocument doc;
  doc.AddChannel("time", "s");
  doc.AddChannel("value", "");
  doc.GetAt(0)->AddCurve("value", 0, 1, 1, 2, RGB16(2));
  std::string expected = "time [s],value\n";
  char buf[64];
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double time = static_cast<double>(i) * 1e-3 / 7.0;
    doc.AddPoint({time, samples[i]});
    std::snprintf(buf, sizeof buf, "%.9g,%.9g\n", time, samples[i]);
    expected += buf;
  }
  CGraphWindow graph;
  graph.SubclassDlgItem(kGraph, &dlg_, doc.GetAt(0));
  graph.RefreshGraph();
  graph.DoZoomOut();
  EXPECT_EQ(ZelGraphCsvText(graph), expected);

  const std::string svg = ZelGraphSvgText(graph);
  static const std::regex points("points=\"([^\"]*)\"");
  std::size_t seen = 0;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), points); it != std::sregex_iterator();
       ++it) {
    std::istringstream coordinates((*it)[1].str());
    std::string pair;
    while (coordinates >> pair) {
      const std::size_t comma = pair.find(',');
      for (const std::string& number : {pair.substr(0, comma), pair.substr(comma + 1)}) {
        std::snprintf(buf, sizeof buf, "%g", std::stod(number));
        EXPECT_EQ(number, buf);
        ++seen;
      }
    }
  }
  EXPECT_GE(seen, 2 * samples.size());
}

TEST(GraphPalette, SixteenColoursThatWrap) {
  EXPECT_EQ(RGB16(0), 0x000000u);
  EXPECT_EQ(RGB16(16), RGB16(0));
  EXPECT_EQ(RGB16(-1), RGB16(15));
  for (int i = 1; i < 16; ++i) {
    SCOPED_TRACE(i);
    EXPECT_NE(RGB16(i), 0xFFFFFFu);  // never white on white
    EXPECT_NE(RGB16(i), RGB16(i - 1));
  }
}

}  // namespace
