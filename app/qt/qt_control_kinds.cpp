#include "app/qt/qt_control_kinds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "app/qt/qt_bar_graph.h"
#include "app/qt/qt_encoder_diagram.h"
#include "app/qt/qt_graph_view.h"
#include "app/qt/qt_text.h"
#include "host/zel_graph.h"

QString QtShownCaption(const std::string& text) { return QtText(ZelStripMnemonic(text)); }

void QtShowTextColour(QWidget* w, unsigned rgb) {
  if (rgb == kZelTextDefault) {
    if (w->testAttribute(Qt::WA_SetPalette)) w->setPalette(QPalette());
    return;
  }
  const QColor colour(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                      static_cast<int>(rgb & 0xFF));
  QPalette palette = w->palette();
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    palette.setColor(role, colour);
  w->setPalette(palette);
}

namespace {

// Up and down arrows without a number beside them: the value lives in the bound edit.
class SpinArrows : public QWidget {
 public:
  explicit SpinArrows(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    for (QToolButton** b : {&up, &down}) {
      *b = new QToolButton(this);
      (*b)->setArrowType(b == &up ? Qt::UpArrow : Qt::DownArrow);
      (*b)->setAutoRepeat(true);
      (*b)->setFixedSize(18, 12);
      column->addWidget(*b);
    }
  }
  QToolButton* up = nullptr;
  QToolButton* down = nullptr;
};

QPixmap FindImage(const std::string& name) {
  if (name.empty()) return {};
  for (const char* ext : {".png", ".svg", ".bmp"}) {
    const QString path = QtText(GetGUIDirectory() + "images/" + name + ext);
    if (QFileInfo::exists(path)) return QPixmap(path);
  }
  return {};
}

// --- One row per control kind: how its widget is made, wired and shown ------------------

bool IsWide(const ZelControlDef& def) { return def.style & kStyleWide; }

QWidget* CreateGroup(const ZelControlDef& def, QWidget* parent) {
  auto* frame = new QtGroupFrame(parent);
  frame->SetTitle(QtShownCaption(def.caption));
  return frame;
}

constexpr int kWrappedLabelWidth = 360;

// The dialog's height is laid out before a wrapped label knows its width: it keeps the height
// of its lines at its narrowest, so that a purpose of two lines is not cut to one.
void KeepRoomForLines(QLabel& label) {
  if (label.wordWrap())
    label.setMinimumHeight(label.heightForWidth(std::max(label.minimumWidth(), kWrappedLabelWidth)));
}

QWidget* CreateLabel(const ZelControlDef& def, QWidget* parent) {
  auto* label = new QLabel(QtShownCaption(def.caption), parent);
  label->setWordWrap(IsWide(def) || def.caption.size() > 60);
  // A wrapped label gets the height of its lines only with a width to wrap at.
  if (IsWide(def)) label->setMinimumWidth(kWrappedLabelWidth);
  KeepRoomForLines(*label);
  return label;
}
void ShowLabel(QWidget* w, const ZelControlDef&, const ZelControlState& s) {
  auto* label = static_cast<QLabel*>(w);
  label->setText(QtShownCaption(s.text));
  KeepRoomForLines(*label);
}

QWidget* CreateEdit(const ZelControlDef& def, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setMinimumWidth(IsWide(def) ? 200 : 90);
  // A number field stays narrow; a read-only field says what a test is doing and takes the
  // room its columns have.
  if (!IsWide(def) && !(def.style & kStyleReadOnly)) edit->setMaximumWidth(160);
  return edit;
}
void ConnectEdit(QWidget* w, QObject* context, int id, const QtUserAction& act) {
  auto* edit = static_cast<QLineEdit*>(w);
  QObject::connect(edit, &QLineEdit::editingFinished, context, [act, id, edit] {
    act([&](CZel_Dialog& d) { d.UserEdit(id, edit->text().toStdString()); });
  });
}
void ShowEdit(QWidget* w, const ZelControlDef& def, const ZelControlState& s) {
  auto* edit = static_cast<QLineEdit*>(w);
  const QString text = s.blank ? QString() : QtText(s.text);
  const bool read_only = def.style & kStyleReadOnly;
  if (edit->text() != text) {
    edit->setText(text);
    // A message longer than the field reads from its start (and whole in the tooltip).
    if (read_only) edit->setCursorPosition(0);
  }
  edit->setReadOnly(read_only);
  // QLineEdit's own limit is 32767 characters: "no limit" for a one-line field.
  edit->setMaxLength(s.text_limit > 0 ? s.text_limit : 32767);
}

QWidget* CreateText(const ZelControlDef& def, QWidget* parent) {
  auto* text = new QPlainTextEdit(parent);
  text->setReadOnly(true);
  text->setMinimumWidth(IsWide(def) ? 360 : 240);
  // Four lines per grid row it spans: instructions and guidance fit without a scroll bar.
  const int lines = 4 * std::max(def.place.row_span, 1);
  text->setFixedHeight(text->fontMetrics().lineSpacing() * lines + 14);
  text->setTabStopDistance(24);
  return text;
}
void ShowText(QWidget* w, const ZelControlDef&, const ZelControlState& s) {
  auto* text = static_cast<QPlainTextEdit*>(w);
  QString plain = s.blank ? QString() : QtText(s.text);
  plain.remove('\r');
  if (text->toPlainText() != plain) text->setPlainText(plain);
}

QWidget* CreateButton(const ZelControlDef& def, QWidget* parent) {
  auto* button = new QPushButton(QtText(def.caption), parent);
  button->setAutoDefault(false);
  // Buttons keep their size; a wide cell does not make a wide button.
  button->setMinimumWidth(88);
  button->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
  return button;
}
void ConnectClick(QWidget* w, QObject* context, int id, const QtUserAction& act) {
  QObject::connect(static_cast<QAbstractButton*>(w), &QAbstractButton::clicked, context,
                   [act, id] { act([&](CZel_Dialog& d) { d.UserClick(id); }); });
}
void ShowButton(QWidget* w, const ZelControlDef&, const ZelControlState& s) {
  static_cast<QPushButton*>(w)->setText(QtText(s.text));
}
void ShowBitmapButton(QWidget* w, const ZelControlDef&, const ZelControlState& s) {
  auto* button = static_cast<QPushButton*>(w);
  const QPixmap image = FindImage(s.image);
  if (image.isNull()) {
    button->setIcon({});
    button->setText(QtText(s.text.empty() ? s.image : s.text));
  } else {
    button->setIcon(QIcon(image));
    button->setIconSize(image.size());
    button->setText({});
  }
}

QWidget* CreateCheck(const ZelControlDef& def, QWidget* parent) {
  return new QCheckBox(QtText(def.caption), parent);
}
QWidget* CreateRadio(const ZelControlDef& def, QWidget* parent) {
  auto* radio = new QRadioButton(QtText(def.caption), parent);
  // The model decides which buttons of a group are checked.
  radio->setAutoExclusive(false);
  return radio;
}
void ShowCheckable(QWidget* w, const ZelControlDef&, const ZelControlState& s) {
  auto* button = static_cast<QAbstractButton*>(w);
  button->setText(QtText(s.text));
  button->setChecked(s.checked != 0);
}

QWidget* CreateDropDown(const ZelControlDef&, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  combo->setMinimumWidth(70);
  return combo;
}
void ConnectDropDown(QWidget* w, QObject* context, int id, const QtUserAction& act) {
  QObject::connect(static_cast<QComboBox*>(w), &QComboBox::activated, context, [act, id](int index) {
    act([&](CZel_Dialog& d) { d.UserSelect(id, index); });
  });
}
void ShowDropDown(QWidget* w, const ZelControlDef&, const ZelControlState& s) {
  auto* combo = static_cast<QComboBox*>(w);
  bool same = combo->count() == static_cast<int>(s.items.size());
  for (int i = 0; same && i < combo->count(); ++i)
    same = combo->itemText(i) == QtText(s.items[static_cast<std::size_t>(i)].text);
  if (!same) {
    combo->clear();
    for (const ZelListItem& item : s.items) combo->addItem(QtText(item.text));
  }
  combo->setCurrentIndex(s.selection);
}

QWidget* CreateSlider(const ZelControlDef&, QWidget* parent) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setMinimumWidth(140);
  return slider;
}
void ConnectSlider(QWidget* w, QObject* context, int id, const QtUserAction& act) {
  auto* slider = static_cast<QSlider*>(w);
  // A drag stores once, when it ends; a click or a key stores at once.
  QObject::connect(slider, &QSlider::valueChanged, context, [act, id, slider](int value) {
    if (!slider->isSliderDown()) act([&](CZel_Dialog& d) { d.UserSlide(id, value); });
  });
  QObject::connect(slider, &QSlider::sliderReleased, context, [act, id, slider] {
    act([&](CZel_Dialog& d) { d.UserSlide(id, slider->value()); });
  });
}
void ShowSlider(QWidget* w, const ZelControlDef&, const ZelControlState& s) {
  auto* slider = static_cast<QSlider*>(w);
  slider->setRange(s.range_min, s.range_max);
  slider->setValue(s.position);
}

QWidget* CreateSpin(const ZelControlDef&, QWidget* parent) { return new SpinArrows(parent); }
void ConnectSpin(QWidget* w, QObject* context, int id, const QtUserAction& act) {
  auto* spin = static_cast<SpinArrows*>(w);
  for (const auto& arrow : {std::pair{spin->up, 1}, std::pair{spin->down, -1}}) {
    const int step = arrow.second;
    QObject::connect(arrow.first, &QToolButton::clicked, context,
                     [act, id, step] { act([&](CZel_Dialog& d) { d.UserSpin(id, step); }); });
  }
}

QWidget* CreateTab(const ZelControlDef&, QWidget* parent) {
  auto* tabs = new QTabBar(parent);
  tabs->setExpanding(false);
  return tabs;
}
void ConnectTab(QWidget* w, QObject* context, int id, const QtUserAction& act) {
  QObject::connect(static_cast<QTabBar*>(w), &QTabBar::currentChanged, context, [act, id](int index) {
    act([&](CZel_Dialog& d) { d.UserSelect(id, index); });
  });
}
void ShowTab(QWidget* w, const ZelControlDef&, const ZelControlState& s) {
  auto* tabs = static_cast<QTabBar*>(w);
  while (tabs->count() > static_cast<int>(s.items.size())) tabs->removeTab(tabs->count() - 1);
  for (std::size_t i = 0; i < s.items.size(); ++i) {
    const int index = static_cast<int>(i);
    if (index < tabs->count())
      tabs->setTabText(index, QtShownCaption(s.items[i].text));
    else
      tabs->addTab(QtShownCaption(s.items[i].text));
  }
  tabs->setCurrentIndex(s.selection);
}

QWidget* CreatePicture(const ZelControlDef&, QWidget* parent) {
  auto* picture = new QLabel(parent);
  picture->setAlignment(Qt::AlignCenter);
  picture->setFrameShape(QFrame::StyledPanel);
  picture->setMinimumSize(64, 48);
  return picture;
}
void ShowPicture(QWidget* w, const ZelControlDef&, const ZelControlState& s) {
  auto* picture = static_cast<QLabel*>(w);
  const QPixmap image = FindImage(s.image);
  if (image.isNull()) {
    picture->setText(QtText(s.image));
  } else {
    picture->setPixmap(image);
    // A picture is drawn whole: the layout may not squeeze it below its own size.
    picture->setMinimumSize(image.size() + QSize(4, 4));
  }
}

QWidget* CreateGraph(const ZelControlDef&, QWidget* parent) {
  auto* graph = new QtGraphView(parent);
  graph->setContextMenuPolicy(Qt::CustomContextMenu);
  return graph;
}
void ConnectGraph(QWidget* w, QObject* context, int id, const QtUserAction& act) {
  QObject::connect(w, &QWidget::customContextMenuRequested, context, [act, id](const QPoint&) {
    act([&](CZel_Dialog& d) { d.UserContextMenu(id); });
  });
}

// In the order of ZelControlKind. The group's state is shown by the view itself: its frame
// follows what is shown inside it.
QWidget* CreateEncoderDiagram(const ZelControlDef&, QWidget* parent) {
  return new QtEncoderDiagram(parent);
}
QWidget* CreateBarGraph(const ZelControlDef&, QWidget* parent) { return new QtBarGraph(parent); }
template <class W>
void ShowIndicator(QWidget* w, const ZelControlDef&, const ZelControlState& s) {
  static_cast<W*>(w)->SetState(s.indicator);
}

constexpr QtControlKindRow kKinds[] = {
    {ZelControlKind::Group, CreateGroup, nullptr, nullptr},
    {ZelControlKind::Label, CreateLabel, nullptr, ShowLabel},
    {ZelControlKind::Edit, CreateEdit, ConnectEdit, ShowEdit},
    {ZelControlKind::Text, CreateText, nullptr, ShowText},
    {ZelControlKind::Button, CreateButton, ConnectClick, ShowButton},
    {ZelControlKind::BitmapButton, CreateButton, ConnectClick, ShowBitmapButton},
    {ZelControlKind::Check, CreateCheck, ConnectClick, ShowCheckable},
    {ZelControlKind::Radio, CreateRadio, ConnectClick, ShowCheckable},
    {ZelControlKind::DropDown, CreateDropDown, ConnectDropDown, ShowDropDown},
    {ZelControlKind::Slider, CreateSlider, ConnectSlider, ShowSlider},
    {ZelControlKind::Spin, CreateSpin, ConnectSpin, nullptr},
    {ZelControlKind::Tab, CreateTab, ConnectTab, ShowTab},
    {ZelControlKind::Picture, CreatePicture, nullptr, ShowPicture},
    {ZelControlKind::Graph, CreateGraph, ConnectGraph, nullptr},
    {ZelControlKind::EncoderDiagram, CreateEncoderDiagram, nullptr, ShowIndicator<QtEncoderDiagram>},
    {ZelControlKind::BarGraph, CreateBarGraph, nullptr, ShowIndicator<QtBarGraph>},
};

constexpr bool KindsInOrder() {
  for (std::size_t i = 0; i < std::size(kKinds); ++i) {
    if (static_cast<std::size_t>(kKinds[i].kind) != i) return false;
  }
  return true;
}
static_assert(KindsInOrder() &&
                  std::size(kKinds) == static_cast<std::size_t>(ZelControlKind::BarGraph) + 1,
              "one row per control kind, in the order of the enumeration");

}  // namespace

const QtControlKindRow& QtControlKindRowOf(ZelControlKind kind) { return kKinds[static_cast<std::size_t>(kind)]; }
