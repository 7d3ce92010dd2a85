#include "app/qt/qt_dialog_view.h"

#include <algorithm>

#include <QApplication>
#include <QCursor>
#include <QGridLayout>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>
#include <set>
#include <utility>

#include "app/qt/qt_control_kinds.h"
#include "app/qt/qt_graph_view.h"
#include "app/qt/qt_text.h"
#include "host/zel_graph.h"

namespace {

// Rounds of measuring and resizing that a window takes to settle at the size of its content.
constexpr int kFitRounds = 4;
// Points that come in one by one are drawn this often: a curve that grows smoothly, at a
// cost that does not grow with the points.
constexpr int kRedrawPeriod_ms = 50;

int KeyOf(const QKeyEvent& e) {
  switch (e.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return '\r';
    case Qt::Key_Escape: return kKeyEscape;
    case Qt::Key_Tab: return '\t';
    case Qt::Key_F1: return 0x70;
    default: return e.key() < 0x80 ? e.key() : 0;
  }
}

unsigned ModifiersOf(Qt::KeyboardModifiers m) {
  return (m & Qt::ShiftModifier ? kKeyShift : 0u) | (m & Qt::ControlModifier ? kKeyCtrl : 0u) |
         (m & Qt::AltModifier ? kKeyAlt : 0u);
}

// The box that holds the OK button when it is a box of the dialog itself; 0 otherwise.
int ButtonRowOf(const std::vector<ZelControlDef>& controls) {
  int box = 0;
  for (const ZelControlDef& c : controls) {
    if (c.id == kIdOk) box = c.group;
  }
  for (const ZelControlDef& c : controls) {
    if (box && c.id == box) return c.kind == ZelControlKind::Group && c.group == 0 ? box : 0;
  }
  return 0;
}

}  // namespace

QtDialogView::QtDialogView(CZel_Dialog& dialog, QWidget* parent)
    : QDialog(parent), dialog_(dialog) {
  setWindowTitle(QtText(dialog.GetCaption()));
  setObjectName(QString("dialog_%1").arg(dialog.Template().id));
  redraw_ = new QTimer(this);
  redraw_->setSingleShot(true);
  redraw_->setInterval(kRedrawPeriod_ms);
  connect(redraw_, &QTimer::timeout, this, [this] { DrawWaitingPoints(); });
  Build();
  qApp->installEventFilter(this);
}

QtDialogView::~QtDialogView() { qApp->removeEventFilter(this); }

QWidget* QtDialogView::Widget(int id) const {
  auto it = widgets_.find(id);
  return it == widgets_.end() ? nullptr : it->second;
}

QtGraphView* QtDialogView::Graph(int id) const {
  auto it = graphs_.find(id);
  return it == graphs_.end() ? nullptr : it->second;
}

void QtDialogView::Build() {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  scroll_ = new QScrollArea(this);
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  auto* content = new QWidget;
  auto* grid = new QGridLayout(content);
  grid->setContentsMargins(10, 10, 10, 10);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(8);
  scroll_->setWidget(content);
  outer->addWidget(scroll_, 1);
  boxes_[0] = {content, grid, 0};

  const std::vector<ZelControlDef>& controls = dialog_.Template().controls;
  std::vector<QWidget*> made(controls.size(), nullptr);
  // Boxes first, so that a control finds its box wherever the table lists it.
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].kind != ZelControlKind::Group) continue;
    auto* frame =
        static_cast<QtGroupFrame*>(QtControlKindRowOf(ZelControlKind::Group).create(controls[i], content));
    made[i] = frame;
    if (controls[i].id > 0) boxes_[controls[i].id] = {frame->Body(), frame->Grid(), 0};
  }
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (!made[i]) made[i] = Create(controls[i]);
    if (controls[i].id > 0) {
      made[i]->setObjectName(QString("ctl_%1").arg(controls[i].id));
      widgets_[controls[i].id] = made[i];
      Connect(controls[i], made[i]);
    }
  }
  // The box of the dialog's own buttons stays below the scrolled content, so that OK, Cancel
  // and Help remain in reach on a screen smaller than the dialog.
  const int button_row = ButtonRowOf(controls);
  std::vector<int> rows(controls.size(), -1);
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const ZelControlDef& c = controls[i];
    if (button_row && c.id == button_row) {
      made[i]->setParent(this);
      outer->addWidget(made[i]);
      continue;
    }
    Box& box = boxes_.count(c.group) ? boxes_[c.group] : boxes_[0];
    const int row = rows[i] = c.place.row >= 0 ? c.place.row : box.next_row;
    box.next_row = std::max(box.next_row, row + std::max(c.place.row_span, 1));
    const Qt::Alignment align =
        c.kind == ZelControlKind::Label ? Qt::AlignLeft | Qt::AlignVCenter : Qt::Alignment();
    box.grid->addWidget(made[i], row, c.place.col, std::max(c.place.row_span, 1),
                        std::max(c.place.col_span, 1), align);
  }
  StretchRows(rows);
}

// Spare room goes to the plots, and so to the rows of the boxes that hold them; in a box
// without a plot it goes below the controls, not between them.
void QtDialogView::StretchRows(const std::vector<int>& rows) {
  const std::vector<ZelControlDef>& controls = dialog_.Template().controls;
  std::map<int, std::size_t> index_of_box;
  for (std::size_t i = 0; i < controls.size(); ++i)
    if (controls[i].kind == ZelControlKind::Group && controls[i].id > 0)
      index_of_box[controls[i].id] = i;
  std::set<int> growing;  // boxes with a plot inside
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].kind != ZelControlKind::Graph || rows[i] < 0) continue;
    // Up from the plot through its boxes; a box seen twice ends the walk.
    for (std::size_t at = i; rows[at] >= 0;) {
      const int box = boxes_.count(controls[at].group) ? controls[at].group : 0;
      boxes_[box].grid->setRowStretch(rows[at], 1);
      if (!growing.insert(box).second || box == 0) break;
      if (auto* frame = dynamic_cast<QtGroupFrame*>(boxes_[box].body->parentWidget()))
        frame->LetBodyGrow();
      at = index_of_box.at(box);
    }
  }
  for (auto& [id, box] : boxes_)
    if (!growing.count(id)) box.grid->setRowStretch(box.next_row, 1);
}

QWidget* QtDialogView::Create(const ZelControlDef& def) {
  QWidget* w = QtControlKindRowOf(def.kind).create(def, boxes_[0].body);
  if (auto* graph = dynamic_cast<QtGraphView*>(w); graph && def.id > 0) graphs_[def.id] = graph;
  return w;
}

void QtDialogView::Connect(const ZelControlDef& def, QWidget* w) {
  const QtControlKindRow& row = QtControlKindRowOf(def.kind);
  if (!row.connect) return;
  const int id = def.id;
  row.connect(w, this, id, [this, id](const std::function<void(CZel_Dialog&)>& action) {
    Act(id, [&] { action(dialog_); });
  });
}

void QtDialogView::Act(int id, const std::function<void()>& action) {
  if (acting_ == 0) {
    ++acting_;
    action();
    --acting_;
  }
  Sync(id);
}

void QtDialogView::SyncAll() {
  for (const auto& [id, w] : widgets_) Sync(id);
  waiting_points_.clear();
  for (const auto& [id, view] : graphs_) view->Rebuild(dialog_.GetGraph(id));
  setWindowTitle(QtText(dialog_.GetCaption()));
}

void QtDialogView::ControlChanged(int id) { Sync(id); }

void QtDialogView::CaptionChanged() { setWindowTitle(QtText(dialog_.GetCaption())); }

void QtDialogView::GraphChanged(int id, ZelGraphEvent event, int /*point*/) {
  QtGraphView* view = Graph(id);
  const CGraphWindow* graph = dialog_.GetGraph(id);
  if (!view || !graph) return;
  switch (event) {
    case ZelGraphEvent::Refresh:
      waiting_points_.erase(id);
      view->Rebuild(graph);
      break;
    case ZelGraphEvent::ZoomOut:
      DrawWaitingPoints(id);
      view->ApplyRanges(*graph);
      break;
    case ZelGraphEvent::LastPoint:
    case ZelGraphEvent::Point:
      waiting_points_[id] |= event == ZelGraphEvent::Point;
      if (!redraw_->isActive()) redraw_->start();
      break;
    case ZelGraphEvent::Saved: break;
  }
}

void QtDialogView::DrawWaitingPoints(int graph_id) {
  auto it = waiting_points_.find(graph_id);
  if (it == waiting_points_.end()) return;
  const bool replaced = it->second;
  waiting_points_.erase(it);
  QtGraphView* view = Graph(graph_id);
  const CGraphWindow* graph = dialog_.GetGraph(graph_id);
  if (view && graph) view->DrawNewPoints(*graph, replaced);
}

void QtDialogView::DrawWaitingPoints() {
  redraw_->stop();
  while (!waiting_points_.empty()) DrawWaitingPoints(waiting_points_.begin()->first);
}

void QtDialogView::Sync(int id) {
  QWidget* w = Widget(id);
  const ZelControlDef* def = dialog_.GetControlDef(id);
  if (!w || !def) return;
  const ZelControlState& s = dialog_.GetControlState(id);
  QSignalBlocker block(w);
  if (def->kind == ZelControlKind::Group) {
    auto* frame = static_cast<QtGroupFrame*>(w);
    frame->SetTitle(QtShownCaption(s.text));
    frame->SetTitleEnabled(s.enabled);
    SyncGroupFrame(id);
    return;
  }
  w->setEnabled(s.enabled);
  if (const auto show = QtControlKindRowOf(def->kind).show) show(w, *def, s);
  QtShowTextColour(w, s.text_colour);
  // A read-only field's tooltip, unless the dialog gives one, is its whole text.
  const bool whole_text = s.tooltip.empty() && def->kind == ZelControlKind::Edit &&
                          (def->style & kStyleReadOnly) && !s.blank;
  w->setToolTip(QtText(whole_text ? s.text : s.tooltip));
  w->setVisible(s.shown);
  if (def->group) SyncGroupFrame(def->group);
}

bool QtDialogView::TakesRoom(int id) const {
  if (dialog_.GetControlState(id).shown) return true;
  const ZelControlDef* def = dialog_.GetControlDef(id);
  if (!def || def->kind != ZelControlKind::Group) return false;
  // A hidden box still holds whatever inside it is shown. Static texts that nothing refers
  // to cannot be hidden on their own, so they go with their box.
  for (const ZelControlDef& c : dialog_.Template().controls) {
    if (c.group == id && c.id > 0 && TakesRoom(c.id)) return true;
  }
  return false;
}

void QtDialogView::SyncGroupFrame(int group_id) {
  auto* frame = dynamic_cast<QtGroupFrame*>(Widget(group_id));
  if (!frame) return;
  frame->SetFrameShown(dialog_.GetControlState(group_id).shown);
  frame->setVisible(TakesRoom(group_id));
  const ZelControlDef* def = dialog_.GetControlDef(group_id);
  if (def && def->group) SyncGroupFrame(def->group);
}

QSize QtDialogView::SizeLimit() const {
  // The room that the smallest screen the dialogs are made for, 1366 x 768, leaves a window
  // once its title bar and frame and a desktop panel have taken theirs. Off screen it
  // stands for the screen.
  QSize limit(1300, 700);
  if (QGuiApplication::platformName() != "offscreen" && screen())
    limit = limit.boundedTo(screen()->availableGeometry().size() - QSize(16, 40));
  return limit;
}

void QtDialogView::FitToScreen() {
  // The boxes measure their content again once they have been laid out at the new size
  // (rows that were shown or hidden meanwhile, pictures that got their image): a few rounds
  // until the size holds.
  for (int round = 0; round < kFitRounds; ++round) {
    // A control that changed its size while the window was hidden has not told the boxes
    // around it: every box measures its content afresh.
    for (const auto& [id, box] : boxes_) {
      box.grid->invalidate();
      if (QWidget* frame = box.body->parentWidget(); frame && frame->layout())
        frame->layout()->invalidate();
    }
    scroll_->widget()->layout()->activate();
    const QSize fitted = WantedSize().boundedTo(SizeLimit());
    if (fitted == size()) return;
    resize(fitted);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  }
}

QSize QtDialogView::WantedSize() const {
  QSize wanted = scroll_->widget()->sizeHint() + QSize(4, 4);
  // What sits below the scrolled content (the dialog's buttons) adds its height.
  for (int i = 1; i < layout()->count(); ++i) {
    if (QWidget* below = layout()->itemAt(i)->widget(); below && !below->isHidden())
      wanted.rheight() += below->sizeHint().height() + layout()->spacing();
  }
  return wanted;
}

void QtDialogView::GrowToContent() {
  scroll_->widget()->layout()->activate();
  // Grows only: a window that shrinks whenever a page changes is hard to use.
  const QSize wanted = WantedSize().boundedTo(SizeLimit());
  const QSize grown = size().expandedTo(wanted);
  if (grown == size()) return;
  resize(grown);
  KeepOnScreen();
}

namespace {

// The free area of the screen that holds `point`: the desktop's panels left out.
QRect FreeScreenAreaAt(const QPoint& point, const QWidget& fallback) {
  const QScreen* screen = QGuiApplication::screenAt(point);
  if (!screen) screen = fallback.screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

// The window's frame as the window manager will draw it: before it is first shown it has no
// frame yet, and a title bar and borders of a usual desktop are assumed.
QRect DrawnFrameOf(const QWidget& window, const QPoint& top_left) {
  const QRect frame = window.frameGeometry(), inner = window.geometry();
  const bool framed = window.isVisible() && frame != inner;
  const QMargins margins = framed ? QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
                                             frame.right() - inner.right(),
                                             frame.bottom() - inner.bottom())
                                  : QMargins(4, 30, 4, 4);
  return QRect(top_left, window.size()).marginsAdded(margins);
}

// `top_left` moved as little as needed for the framed window to lie within `area`; the
// frame's top-left corner wins when the window is larger than the area.
QPoint PlacedWithinArea(const QWidget& window, QPoint top_left, const QRect& area) {
  if (area.isEmpty()) return top_left;
  const QRect frame = DrawnFrameOf(window, top_left);
  const QPoint inset = top_left - frame.topLeft();
  QPoint corner = frame.topLeft();
  corner.setX(std::max(area.left(), std::min(corner.x(), area.right() + 1 - frame.width())));
  corner.setY(std::max(area.top(), std::min(corner.y(), area.bottom() + 1 - frame.height())));
  return corner + inset;
}

}  // namespace

void QtDialogView::PlaceOnScreen() {
  const QWidget* below = parentWidget() ? parentWidget()->window() : nullptr;
  const QPoint centre = below ? below->geometry().center()
                              : FreeScreenAreaAt(QCursor::pos(), *this).center();
  const QRect area = FreeScreenAreaAt(centre, *this);
  const QPoint top_left = centre - QPoint(width() / 2, height() / 2);
  move(PlacedWithinArea(*this, top_left, area));
}

void QtDialogView::KeepOnScreen() {
  const QRect area = FreeScreenAreaAt(geometry().center(), *this);
  const QPoint placed = PlacedWithinArea(*this, pos(), area);
  if (placed != pos()) move(placed);
}

void QtDialogView::reject() { dialog_.UserClose(); }

bool QtDialogView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::LayoutRequest && scroll_ && watched == scroll_->widget() &&
      isVisible()) {
    QTimer::singleShot(0, this, [this] { GrowToContent(); });
    return false;
  }
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this) return false;
  // A key press travels up from the focus widget; the dialog hears it once.
  auto* key = static_cast<QKeyEvent*>(event);
  static const QKeyEvent* last = nullptr;
  static quint64 last_time = 0;
  if (key == last && key->timestamp() == last_time) return false;
  last = key;
  last_time = key->timestamp();
  // A key that the dialog used goes no further: Escape has closed the window the dialog's
  // way (which may have asked first), not Qt's.
  const int code = KeyOf(*key);
  return code && dialog_.UserKey(code, ModifiersOf(key->modifiers()));
}
