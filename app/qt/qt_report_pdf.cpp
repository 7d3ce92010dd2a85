#include "app/qt/qt_report_pdf.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFontMetricsF>
#include <QHashSeed>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextObjectInterface>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <variant>
#include <vector>

#include "host/zel_report_document.h"

namespace {

constexpr int kPlotObject = QTextFormat::UserObject + 1;
constexpr int kPlotIndex = QTextFormat::UserProperty + 1;
constexpr double kMarginMm = 15.0;
// The band at the foot of each page that holds its number, inside the margin.
constexpr double kFooterMm = 8.0;
// A heading goes to the next page with what follows it when that is at most this share of a
// page; a longer group starts where it is.
constexpr double kKeptShare = 0.8;
// The share of the text's width that a plot takes, as the page shows it beside its tables.
constexpr double kPlotWidthShare = 0.9;

QColor Colour(std::uint32_t rgb) { return QColor::fromRgb(static_cast<QRgb>(rgb & 0xFFFFFF)); }

QPointF At(const ZelPlotPoint& p) { return {p.x, p.y}; }

// The scene's items in its own pixels; the caller has scaled the painter to the room given.
class SceneDrawer {
 public:
  SceneDrawer(QPainter& painter, const ZelPlotScene& scene) : p_(painter), scene_(scene) {}

  void operator()(const ZelPlotStroke& stroke) {
    Clip(stroke.clip);
    QPolygonF line;
    for (const ZelPlotPoint& point : stroke.points) line << At(point);
    p_.setPen(QPen(Colour(stroke.colour), stroke.width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p_.setBrush(Qt::NoBrush);
    p_.drawPolyline(line);
  }
  void operator()(const ZelPlotDots& dots) {
    Clip(dots.clip);
    p_.setPen(Qt::NoPen);
    p_.setBrush(Colour(dots.colour));
    for (const ZelPlotPoint& point : dots.points)
      p_.drawEllipse(At(point), kZelPlotDotRadius, kZelPlotDotRadius);
  }
  void operator()(const ZelPlotLabel& label) {
    if (label.text.empty()) return;
    Clip(false);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(label.size);
    p_.setFont(font);
    p_.setPen(Qt::black);
    const QString text = QString::fromStdString(label.text);
    const double width = QFontMetricsF(font).horizontalAdvance(text);
    const double shift = label.anchor == ZelTextAnchor::Start    ? 0.0
                         : label.anchor == ZelTextAnchor::Middle ? -width / 2.0
                                                                 : -width;
    p_.save();
    p_.translate(label.x, label.y);
    if (label.vertical) p_.rotate(-90.0);
    p_.drawText(QPointF(shift, 0.0), text);
    p_.restore();
  }

 private:
  void Clip(bool on) {
    if (on)
      p_.setClipRect(QRectF(scene_.left, scene_.top, scene_.right - scene_.left,
                            scene_.bottom - scene_.top));
    else
      p_.setClipping(false);
  }
  QPainter& p_;
  const ZelPlotScene& scene_;
};

// Draws the plots where the page holds their placeholders: the layout asks their size and
// has them drawn, on the PDF's painter, as vectors.
class PlotObjects : public QObject, public QTextObjectInterface {
  Q_OBJECT
  Q_INTERFACES(QTextObjectInterface)

 public:
  explicit PlotObjects(const std::vector<ZelPlotScene>& plots) : plots_(plots) {}

  QSizeF intrinsicSize(QTextDocument* document, int, const QTextFormat& format) override {
    const ZelPlotScene* scene = SceneOf(format);
    if (!scene || scene->width <= 0) return {};
    const double width = kPlotWidthShare * document->textWidth();
    return {width, width * scene->height / scene->width};
  }

  void drawObject(QPainter* painter, const QRectF& rect, QTextDocument*, int,
                  const QTextFormat& format) override {
    const ZelPlotScene* scene = SceneOf(format);
    if (!scene || scene->width <= 0) return;
    painter->save();
    painter->translate(rect.topLeft());
    painter->scale(rect.width() / scene->width, rect.height() / scene->height);
    painter->setRenderHint(QPainter::Antialiasing);
    SceneDrawer draw(*painter, *scene);
    for (const ZelPlotItem& item : scene->items) std::visit(draw, item);
    painter->restore();
  }

 private:
  const ZelPlotScene* SceneOf(const QTextFormat& format) const {
    const int index = format.intProperty(kPlotIndex);
    return index >= 0 && static_cast<std::size_t>(index) < plots_.size() ? &plots_[index] : nullptr;
  }
  const std::vector<ZelPlotScene>& plots_;
};

// The plot number that an image placeholder names, or -1.
int PlaceholderIndex(const QTextCharFormat& format) {
  if (!format.isImageFormat()) return -1;
  const QString name = format.toImageFormat().name();
  const QString scheme = QString::fromLatin1(kZelPlotPlaceholderScheme);
  if (!name.startsWith(scheme)) return -1;
  bool ok = false;
  const int index = name.mid(scheme.size()).toInt(&ok);
  return ok ? index : -1;
}

// Each placeholder of the page becomes the object that draws its plot.
void PlacePlots(QTextDocument& document) {
  std::vector<std::pair<int, int>> found;  // position, plot
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (const int index = PlaceholderIndex(fragment.charFormat()); index >= 0)
        found.emplace_back(fragment.position(), index);
    }
  }
  // From the end, so that the positions still to replace stay where they were found; as one
  // edit, so that the page is laid out again once, not once a plot.
  QTextCursor edit(&document);
  edit.beginEditBlock();
  for (auto it = found.rbegin(); it != found.rend(); ++it) {
    QTextCursor cursor(&document);
    cursor.setPosition(it->first);
    cursor.setPosition(it->first + 1, QTextCursor::KeepAnchor);
    QTextCharFormat plot;
    plot.setObjectType(kPlotObject);
    plot.setProperty(kPlotIndex, it->second);
    cursor.insertText(QString(QChar::ObjectReplacementCharacter), plot);
  }
  edit.endEditBlock();
}

// A table whose cells all have the same solid edges, which the page draws itself as rules:
// the toolkit's own borders look up each edge's neighbours (and theirs) for every edge of
// every cell, as it lays the table out and again as it draws it, most of the PDF's cost.
struct RuledTable {
  QTextTable* table = nullptr;
  QPen pen;
  QMarginsF padding;  // of every cell, to its edges' middle, in device units
};

QMarginsF PaddingOf(const QTextTableCellFormat& f) {
  return {f.leftPadding(), f.topPadding(), f.rightPadding(), f.bottomPadding()};
}

bool HasEdge(const QTextTableCellFormat& f, QTextFormat::Property width,
             QTextFormat::Property style, QTextFormat::Property brush, double& w, QBrush& ink) {
  if (!f.hasProperty(width) || f.intProperty(style) != QTextFrameFormat::BorderStyle_Solid)
    return false;
  w = f.doubleProperty(width);
  ink = f.brushProperty(brush);
  return true;
}

// The width and ink of a cell's edges when all four are solid and alike.
bool UniformEdges(const QTextTableCellFormat& f, double& width, QBrush& ink) {
  struct Edge {
    QTextFormat::Property width, style, brush;
  };
  static constexpr Edge kEdges[] = {
      {QTextFormat::TableCellTopBorder, QTextFormat::TableCellTopBorderStyle,
       QTextFormat::TableCellTopBorderBrush},
      {QTextFormat::TableCellBottomBorder, QTextFormat::TableCellBottomBorderStyle,
       QTextFormat::TableCellBottomBorderBrush},
      {QTextFormat::TableCellLeftBorder, QTextFormat::TableCellLeftBorderStyle,
       QTextFormat::TableCellLeftBorderBrush},
      {QTextFormat::TableCellRightBorder, QTextFormat::TableCellRightBorderStyle,
       QTextFormat::TableCellRightBorderBrush}};
  for (std::size_t i = 0; i < std::size(kEdges); ++i) {
    double w = 0.0;
    QBrush b;
    if (!HasEdge(f, kEdges[i].width, kEdges[i].style, kEdges[i].brush, w, b)) return false;
    if (i > 0 && (w != width || b != ink)) return false;
    width = w;
    ink = b;
  }
  return width > 0.0;
}

// What a cell keeps of its format once the page draws its edges: the layout copies a cell's
// format at every look at it (tens of thousands of times a layout), at a cost that grows with
// its properties. Its edges go to the rules, and the ink of its text, which each piece of
// text carries itself, goes.
void TrimCellFormat(QTextTableCellFormat& f) {
  for (int property = QTextFormat::TableCellTopBorder;
       property <= QTextFormat::TableCellRightBorderBrush; ++property)
    f.clearProperty(property);
  f.clearForeground();
}

// The edge that the document hands apart from its markup for every cell, in the toolkit's
// pixels: the reader then does not set twelve properties on every cell, which the page would
// take off again to draw the edges as rules (and puts back on the cells of a table it cannot
// rule).
struct CellEdge {
  double width = 0.0;
  QBrush ink;
};

std::optional<CellEdge> CellEdgeOf(const ZelReportDocument& report) {
  if (!report.cell_edge) return std::nullopt;
  const double width = report.cell_edge->width_px;
  // Not above 0 (NaN too) is no edge, which the toolkit draws as none rather than as the
  // thinnest line a pen of no width draws.
  return CellEdge{width > 0.0 ? width : 0.0, QBrush(Colour(report.cell_edge->colour))};
}

void PutEdges(QTextTableCell& cell, const CellEdge& edge) {
  QTextTableCellFormat f = cell.format().toTableCellFormat();
  f.setBorder(edge.width);
  f.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
  f.setBorderBrush(edge.ink);
  cell.setFormat(f);
}

// Every table of the document, nested ones too, each with whether it stands in the page's
// own flow.
void TablesOf(QTextFrame& frame, bool top, std::vector<std::pair<QTextTable*, bool>>& tables) {
  for (QTextFrame* child : frame.childFrames()) {
    if (auto* table = qobject_cast<QTextTable*>(child)) tables.emplace_back(table, top);
    TablesOf(*child, false, tables);
  }
}

// The cells of a table in the document's order, a spanned cell once.
std::vector<QTextTableCell> CellsOf(QTextTable& table) {
  std::vector<QTextTableCell> cells;
  for (int row = 0; row < table.rows(); ++row) {
    for (int column = 0; column < table.columns(); ++column) {
      const QTextTableCell cell = table.cellAt(row, column);
      if (cell.row() == row && cell.column() == column) cells.push_back(cell);
    }
  }
  return cells;
}

// The width, ink and padding of a table's cells when every one has the same solid edges
// (`handed`, when the document handed them apart from the markup) and padding.
bool AlikeCells(const std::vector<QTextTableCell>& cells, const std::optional<CellEdge>& handed,
                double& width, QBrush& ink, QMarginsF& padding) {
  for (std::size_t i = 0; i < cells.size(); ++i) {
    double w = 0.0;
    QBrush b;
    const QTextTableCellFormat f = cells[i].format().toTableCellFormat();
    if (handed) {
      w = handed->width;
      b = handed->ink;
    } else if (!UniformEdges(f, w, b)) {
      return false;
    }
    if (i > 0 && (w != width || b != ink || PaddingOf(f) != padding)) return false;
    padding = PaddingOf(f);
    width = w;
    ink = b;
  }
  return !cells.empty() && width > 0.0;
}

// Takes the edges off the cells of each table whose edges the page can draw as rules. The
// text stays where the collapsed edges left it: each cell gets half an edge more padding, and
// the table, half an edge more margin (the toolkit rounds that half to a device pixel). The
// cells of any other table get the edges `handed`, if the document handed them.
std::vector<RuledTable> TakeTableEdges(QTextDocument& document, double device_per_px,
                                       const std::optional<CellEdge>& handed) {
  std::vector<RuledTable> ruled;
  std::vector<std::pair<QTextTable*, bool>> tables;
  TablesOf(*document.rootFrame(), true, tables);
  for (const auto& [table, top] : tables) {
    std::vector<QTextTableCell> cells = CellsOf(*table);
    double width = 0.0;
    QBrush ink;
    QMarginsF padding;
    if (!top || !table->format().borderCollapse() ||
        !AlikeCells(cells, handed, width, ink, padding)) {
      if (handed) {
        for (QTextTableCell& cell : cells) PutEdges(cell, *handed);
      }
      continue;
    }
    const double half = width / 2.0;
    // A padding alike above and below in every cell is the table's, which the cells then
    // need not carry.
    const bool table_pads = padding.top() == padding.bottom();
    for (QTextTableCell& cell : cells) {
      QTextTableCellFormat f = cell.format().toTableCellFormat();
      TrimCellFormat(f);
      if (table_pads) {
        f.clearProperty(QTextFormat::TableCellTopPadding);
        f.clearProperty(QTextFormat::TableCellBottomPadding);
      } else {
        f.setTopPadding(f.topPadding() + half);
        f.setBottomPadding(f.bottomPadding() + half);
      }
      f.setLeftPadding(f.leftPadding() + half);
      f.setRightPadding(f.rightPadding() + half);
      cell.setFormat(f);
    }
    QTextTableFormat format = table->format();
    format.setBorderCollapse(false);
    format.setCellSpacing(0.0);
    if (table_pads) format.setCellPadding(padding.top() + half);
    // A hair over the device pixels, as the toolkit truncates lengths to its 64ths of one.
    const double outer = (std::round(half * device_per_px) + 1.0 / 256.0) / device_per_px;
    format.setTopMargin(format.topMargin() + outer);
    format.setBottomMargin(format.bottomMargin() + outer);
    format.setLeftMargin(format.leftMargin() + outer);
    format.setRightMargin(format.rightMargin() + outer);
    table->setFormat(format);
    ruled.push_back({table, QPen(ink, width * device_per_px, Qt::SolidLine, Qt::SquareCap),
                     (padding + QMarginsF(half, half, half, half)) * device_per_px});
  }
  return ruled;
}

// The lines of a cell's text, each as its top and bottom in the laid-out document (pages
// stacked one under the other).
void AddCellLines(QAbstractTextDocumentLayout& layout, const QTextBlock& first,
                  const QTextBlock& end, std::vector<std::pair<double, double>>& lines,
                  double& left, double& right) {
  for (QTextBlock block = first; block.isValid() && block != end; block = block.next()) {
    const QTextLayout* text = block.layout();
    const QRectF box = layout.blockBoundingRect(block);
    const QPointF at = box.topLeft() - text->boundingRect().topLeft();
    left = std::min(left, box.left());
    right = std::max(right, box.right());
    for (int i = 0; i < text->lineCount(); ++i) {
      const QRectF line = text->lineAt(i).rect().translated(at);
      lines.emplace_back(line.top(), line.bottom());
    }
  }
}

// The cells of a table in the document's order (row by row, a spanned cell once) with the
// first block of each and, after them, the block that follows the table: a cell's blocks
// run up to the next one's. Found by position: a cursor at a cell would measure where it
// stands on its line, at the cost of shaping the cell's text.
struct CellBlocks {
  std::vector<QTextTableCell> cells;
  std::vector<QTextBlock> firsts;  // one more than the cells
};

CellBlocks CellBlocksOf(QTextTable& table) {
  CellBlocks found{CellsOf(table), {}};
  for (const QTextTableCell& cell : found.cells)
    found.firsts.push_back(table.document()->findBlock(cell.firstPosition()));
  found.firsts.push_back(table.document()->findBlock(table.lastPosition()).next());
  return found;
}

// One row of a table on one page.
struct RowPiece {
  int page = 0;
  double top = 0.0, foot = 0.0;
};

// The rules of one table, each drawn once: the top of every row's piece on each page (and
// the foot of the last on a page), the sides of every cell, and the head again above the
// first row on each page the table runs onto, where the toolkit repeats it.
std::vector<QLineF> RulesOf(QAbstractTextDocumentLayout& layout, const RuledTable& ruled,
                            double page_height) {
  QTextTable& table = *ruled.table;
  const int rows = table.rows(), columns = table.columns();
  const QMarginsF& pad = ruled.padding;
  auto page_of = [page_height](double y) { return static_cast<int>(std::floor(y / page_height)); };
  std::vector<double> left(columns, 1e300);
  double right = -1e300;
  std::vector<std::vector<RowPiece>> pieces(rows);
  const CellBlocks cells = CellBlocksOf(table);
  std::size_t next_cell = 0;
  for (int row = 0; row < rows; ++row) {
    std::vector<std::pair<double, double>> lines;
    for (; next_cell < cells.cells.size() && cells.cells[next_cell].row() == row; ++next_cell) {
      double l = 1e300, r = -1e300;
      AddCellLines(layout, cells.firsts[next_cell], cells.firsts[next_cell + 1], lines, l, r);
      const int column = cells.cells[next_cell].column();
      left[column] = std::min(left[column], l - pad.left());
      right = std::max(right, r + pad.right());
    }
    for (const auto& [top, foot] : lines) {
      const int page = page_of(top);
      auto it = std::find_if(pieces[row].begin(), pieces[row].end(),
                             [page](const RowPiece& p) { return p.page == page; });
      if (it == pieces[row].end()) {
        pieces[row].push_back({page, top - pad.top(), foot + pad.bottom()});
      } else {
        it->top = std::min(it->top, top - pad.top());
        it->foot = std::max(it->foot, foot + pad.bottom());
      }
    }
    std::sort(pieces[row].begin(), pieces[row].end(),
              [](const RowPiece& a, const RowPiece& b) { return a.page < b.page; });
  }
  // A row ends where the next begins on the same page.
  for (int row = 0; row + 1 < rows; ++row) {
    if (pieces[row].empty() || pieces[row + 1].empty()) continue;
    RowPiece& last = pieces[row].back();
    const RowPiece& next = pieces[row + 1].front();
    if (next.page == last.page) last.foot = std::max(last.foot, next.top);
  }
  std::vector<QLineF> lines;
  auto rule = [&](const RowPiece& piece, bool foot) {
    lines.emplace_back(left.front(), piece.top, right, piece.top);
    if (foot) lines.emplace_back(left.front(), piece.foot, right, piece.foot);
    for (double x : left) {
      if (x < right) lines.emplace_back(x, piece.top, x, piece.foot);  // not a column of spans
    }
    lines.emplace_back(right, piece.top, right, piece.foot);
  };
  const int heads = std::min(table.format().headerRowCount(), rows - 1);
  int page = std::numeric_limits<int>::min();
  for (int row = 0; row < rows; ++row) {
    for (std::size_t i = 0; i < pieces[row].size(); ++i) {
      const RowPiece& piece = pieces[row][i];
      const bool page_ends = i + 1 < pieces[row].size() || row + 1 == rows ||
                             pieces[row + 1].empty() || pieces[row + 1].front().page != piece.page;
      rule(piece, page_ends);
      if (piece.page != page && page != std::numeric_limits<int>::min() && heads > 0 &&
          !pieces[heads].empty()) {
        const double shift = piece.top - pieces[heads].front().top;
        for (int head = 0; head < heads; ++head) {
          for (RowPiece h : pieces[head]) {
            h.top += shift;
            h.foot += shift;
            rule(h, false);
          }
        }
      }
      page = piece.page;
    }
  }
  return lines;
}

// The top-level pieces of the page in their order, each as its layout's rectangle in the
// document (pages stacked one under the other) with the block of a heading.
struct PagePiece {
  QRectF rect;
  QTextBlock heading;  // valid for a heading
  bool table = false;
  bool plot = false;  // a block that holds a plot, which is not split
};

bool HoldsPlot(const QTextBlock& block) {
  for (auto it = block.begin(); !it.atEnd(); ++it) {
    if (it.fragment().charFormat().objectType() == kPlotObject) return true;
  }
  return false;
}

std::vector<PagePiece> PiecesOf(QTextDocument& document) {
  QAbstractTextDocumentLayout* layout = document.documentLayout();
  std::vector<PagePiece> pieces;
  QTextFrame* root = document.rootFrame();
  for (QTextFrame::iterator it = root->begin(); !it.atEnd(); ++it) {
    if (QTextFrame* frame = it.currentFrame()) {
      pieces.push_back({layout->frameBoundingRect(frame), {}, true, false});
    } else if (const QTextBlock block = it.currentBlock(); block.isValid()) {
      const bool heading = block.blockFormat().headingLevel() > 0;
      pieces.push_back({layout->blockBoundingRect(block), heading ? block : QTextBlock(), false,
                        HoldsPlot(block)});
    }
  }
  return pieces;
}

// Where a piece under a heading may end on the page for the heading to stay with it: a
// table may run on (its head repeats), so its first rows; a long paragraph, its first lines;
// a plot, and a short paragraph, whole.
double KeptBottom(const PagePiece& piece, double line) {
  if (piece.table || (!piece.plot && piece.rect.height() > 4.0 * line))
    return piece.rect.top() + std::min(piece.rect.height(), 3.0 * line);
  return piece.rect.bottom();
}

// A short paragraph under a heading (a verdict) leads on to what follows it.
bool LeadsOn(const PagePiece& piece, double line) {
  return !piece.table && !piece.plot && !piece.heading.isValid() &&
         piece.rect.height() <= 4.0 * line;
}

bool StartsAPage(const QTextBlock& block) {
  return block.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore;
}

// The pages of a laid-out document and the rule that keeps a heading with what follows it.
class HeadingPages {
 public:
  HeadingPages(double page_height, double line) : page_height_(page_height), line_(line) {}

  int PageOf(double y) const { return static_cast<int>(std::floor(y / page_height_)); }

  // The last piece that goes with the heading at `i`: the text under it when it is a short
  // paragraph, then what that leads to.
  std::size_t GroupEnd(const std::vector<PagePiece>& pieces, std::size_t i) const {
    std::size_t last = i + 1;
    while (last + 1 < pieces.size() && last < i + 3 && LeadsOn(pieces[last], line_)) ++last;
    return last;
  }

  // Whether the page parts the heading at `i` from what goes with it, which it can mend by
  // moving the heading to the next page.
  bool Parted(const std::vector<PagePiece>& pieces, std::size_t i) const {
    const PagePiece& h = pieces[i];
    if (!h.heading.isValid() || i + 1 >= pieces.size() || StartsAPage(h.heading)) return false;
    const double top = h.rect.top();
    return Parted(top, KeptBottom(pieces[GroupEnd(pieces, i)], line_));
  }
  bool Parted(double top, double bottom) const {
    return PageOf(top) != PageOf(bottom - 1e-6) && bottom - top <= kKeptShare * page_height_;
  }

  // Whether a heading moved to the top of a page (at `i` of this layout) was parted where it
  // stood, `gap` under the piece before it, as the layout with only the moves before it had
  // it. Only what this layout proves counts: where it cannot tell, the answer is no.
  bool PartedWhereItStood(const std::vector<PagePiece>& pieces, std::size_t i, double gap) const {
    if (i == 0 || i + 1 >= pieces.size()) return false;
    const PagePiece& h = pieces[i];
    const double top = pieces[i - 1].rect.bottom() + gap;
    const double shift = top - h.rect.top();
    const double page_end = (PageOf(top) + 1) * page_height_;
    const double room = 0.5 * line_;  // more than the page keeps free at its foot
    // The heading itself fits, so the page leaves it where it stood.
    if (top + h.rect.height() + room > page_end) return false;
    // What fits under it stands as here, shifted; from the first piece that may not fit,
    // nothing stands higher than here, and at least its first lines (a plot whole) go with
    // the heading.
    const std::size_t last = GroupEnd(pieces, i);
    std::size_t first_moved = i + 1;
    while (first_moved <= last && pieces[first_moved].rect.bottom() + shift + room <= page_end)
      ++first_moved;
    if (first_moved > last) return false;  // all of it fits
    const PagePiece& moved = pieces[first_moved];
    const double least =
        moved.rect.top() + shift +
        (moved.plot ? moved.rect.height() : std::min(moved.rect.height(), 3.0 * line_));
    if (least - 1e-6 < page_end) return false;
    // At most, what runs on starts the next page a few lines down (a table's head repeated)
    // and is as tall as here.
    const double most =
        page_end + 3.0 * line_ + (KeptBottom(pieces[last], line_) - moved.rect.top());
    return most - top <= kKeptShare * page_height_;
  }

 private:
  double page_height_, line_;
};

// A heading moved on the guess that the moves before it leave it parted; the layout after
// the moves confirms it or the move is taken back.
struct GuessedMove {
  QTextBlock heading;
  QTextBlockFormat before;
  double gap = 0.0;  // from the piece before the heading to it where it stood
};

std::size_t IndexOf(const std::vector<PagePiece>& pieces, const QTextBlock& heading) {
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].heading == heading) return i;
  }
  return pieces.size();
}

// How many of the guessed moves, in order, the one-at-a-time rule would have made: each
// heading was parted where it stood, and no heading before it that stays was parted, which
// this layout shows as the moves before it left it when that heading's group ends above it.
std::size_t ConfirmedGuesses(const std::vector<PagePiece>& pieces,
                             const std::vector<GuessedMove>& guesses, const HeadingPages& pages) {
  std::size_t confirmed = 0, checked_to = 0;
  for (const GuessedMove& guess : guesses) {
    const std::size_t at = IndexOf(pieces, guess.heading);
    if (at >= pieces.size() || at < checked_to) return confirmed;
    for (std::size_t j = 0; j < at; ++j) {
      if (!pieces[j].heading.isValid() || StartsAPage(pieces[j].heading)) continue;
      if (j + 1 < pieces.size() && pages.GroupEnd(pieces, j) >= at) return confirmed;
      if (j >= checked_to && pages.Parted(pieces, j)) return confirmed;
    }
    if (!pages.PartedWhereItStood(pieces, at, guess.gap)) return confirmed;
    checked_to = at;
    ++confirmed;
  }
  return confirmed;
}

void SetBlockFormats(QTextDocument& document,
                     const std::vector<std::pair<QTextBlock, QTextBlockFormat>>& formats) {
  if (formats.empty()) return;
  QTextCursor edit(&document);
  edit.beginEditBlock();
  for (const auto& [block, format] : formats) QTextCursor(block).setBlockFormat(format);
  edit.endEditBlock();
}

// Moves each heading that its page would part from what follows it (the verdict under it,
// the plot, the first rows of its table) to the next page. The rule goes one heading at a
// time, the first parted one first, as each move shifts the rest; but each move lays the
// rest of the document out again, so the headings parted in one layout all move at once:
// the first as the rule would, the others on the guess that the moves before them leave
// them parted, which the next layout confirms (or the move is taken back). A line is one of
// `plain`, the toolkit's own default font.
void KeepHeadingsWithTheirText(QTextDocument& document, const QFont& plain, double page_height) {
  const double line =
      QFontMetricsF(plain, document.documentLayout()->paintDevice()).lineSpacing();
  const HeadingPages pages(page_height, line);
  std::vector<GuessedMove> guesses;
  for (int layouts = 0; layouts < 1000; ++layouts) {
    const std::vector<PagePiece> pieces = PiecesOf(document);
    const std::size_t confirmed = ConfirmedGuesses(pieces, guesses, pages);
    if (confirmed < guesses.size()) {
      std::vector<std::pair<QTextBlock, QTextBlockFormat>> back;
      for (std::size_t g = confirmed; g < guesses.size(); ++g)
        back.emplace_back(guesses[g].heading, guesses[g].before);
      guesses.clear();
      SetBlockFormats(document, back);
      continue;
    }
    guesses.clear();
    std::vector<std::pair<QTextBlock, QTextBlockFormat>> moves;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (!pages.Parted(pieces, i)) continue;
      const QTextBlock heading = pieces[i].heading;
      QTextBlockFormat format = heading.blockFormat();
      const QTextBlockFormat before = format;
      format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
      if (!moves.empty()) {
        // Only a heading that stood on the page of the piece before it can be judged later.
        const double under = pieces[i - 1].rect.bottom(), top = pieces[i].rect.top();
        if (pages.PageOf(under) != pages.PageOf(top) || top < under || top - under > 4.0 * line)
          break;
        guesses.push_back({heading, before, top - under});
      }
      moves.emplace_back(heading, format);
    }
    if (moves.empty()) return;
    SetBlockFormats(document, moves);
  }
}

// Each block keeps its text shaped once laid out, so that drawing its lines does not shape it
// again (a layout shapes it anew all the same).
void KeepShapedText(QTextDocument& document) {
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
    block.layout()->setCacheEnabled(true);
}

// "page N of M" at the foot of a page, right-aligned within the text's width.
void DrawPageNumber(QPainter& painter, const QRectF& foot, int page, int pages) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSizeF(8.0);
  painter.save();
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(foot, Qt::AlignRight | Qt::AlignBottom,
                   QStringLiteral("page %1 of %2").arg(page).arg(pages));
  painter.restore();
}

// The PDF writer keeps each typeface's subset in a hash and writes them in the hash's order,
// which follows the process's random seed: the same record came out of two runs with its fonts
// in either order. Hashes made while the guard stands take the fixed seed and keep it.
class FixedHashOrder {
 public:
  FixedHashOrder() { QHashSeed::setDeterministicGlobalSeed(); }
  ~FixedHashOrder() { QHashSeed::resetRandomGlobalSeed(); }
  FixedHashOrder(const FixedHashOrder&) = delete;
  FixedHashOrder& operator=(const FixedHashOrder&) = delete;
};

}  // namespace

std::string DrawReportPdf(const ZelReportDocument& report, std::string& pdf) {
  const FixedHashOrder same_bytes_every_run;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly)) return "the PDF cannot be drawn";
  {
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                          QPageLayout::Millimeter);
    writer.setTitle(QString::fromStdString(report.title));
    writer.setCreator(QStringLiteral("dcservo"));

    PlotObjects plots(report.plots);
    QTextDocument document;
    // Laid out in the PDF's own units, so that text is measured as it will be drawn.
    document.documentLayout()->setPaintDevice(&writer);
    document.documentLayout()->registerHandler(kPlotObject, &plots);
    // No page while the text is built, so that the toolkit lays nothing out until the page
    // is whole; then once, at the page's size.
    document.setPageSize(QSizeF(0.0, 0.0));
    // A plot stands in a block of its own, which the page keeps whole: the markup's figure
    // is no block to the toolkit.
    QString html = QString::fromStdString(report.html);
    html.replace(QStringLiteral("<figure>"), QStringLiteral("<div>"))
        .replace(QStringLiteral("</figure>"), QStringLiteral("</div>"));
    const QFont plain = document.defaultFont();
    // The body's typeface as the document's default font, not in the markup's style, from
    // which the toolkit's reader copies it into the format of every paragraph, cell and piece
    // of text (and the layout copies it again at every look at one): the same page with
    // lighter formats.
    if (!report.body_typeface.empty()) {
      QFont font = plain;
      font.setFamilies({QString::fromStdString(report.body_typeface)});
      document.setDefaultFont(font);
    }
    document.setHtml(html);
    // The toolkit's pixel is a 96th of an inch.
    const double device_per_px = writer.logicalDpiY() / 96.0;
    const std::vector<RuledTable> ruled =
        TakeTableEdges(document, device_per_px, CellEdgeOf(report));
    PlacePlots(document);
    KeepShapedText(document);
    const double footer = kFooterMm * writer.resolution() / 25.4;
    const QSizeF page(writer.width(), writer.height() - footer);
    document.setPageSize(page);
    KeepHeadingsWithTheirText(document, plain, page.height());

    std::vector<std::pair<QPen, std::vector<QLineF>>> rules;
    for (const RuledTable& table : ruled)
      rules.emplace_back(table.pen, RulesOf(*document.documentLayout(), table, page.height()));

    QPainter painter;
    if (!painter.begin(&writer)) return "the PDF cannot be drawn";
    const int pages = document.pageCount();
    for (int n = 0; n < pages; ++n) {
      if (n > 0) writer.newPage();
      const QRectF view(0.0, n * page.height(), page.width(), page.height());
      painter.save();
      painter.translate(0.0, -view.top());
      document.drawContents(&painter, view);
      painter.setClipRect(view);
      for (const auto& [pen, lines] : rules) {
        std::vector<QLineF> here;
        for (const QLineF& line : lines) {
          if (std::max(line.y1(), line.y2()) >= view.top() &&
              std::min(line.y1(), line.y2()) <= view.bottom())
            here.push_back(line);
        }
        if (here.empty()) continue;
        painter.setPen(pen);
        painter.drawLines(here.data(), static_cast<int>(here.size()));
      }
      painter.restore();
      DrawPageNumber(painter, QRectF(0.0, page.height(), page.width(), footer), n + 1, pages);
    }
    painter.end();
  }
  pdf.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  return {};
}

#include "qt_report_pdf.moc"
