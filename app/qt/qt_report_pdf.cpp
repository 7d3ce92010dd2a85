#include "app/qt/qt_report_pdf.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFontMetricsF>
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

// A collapsed border makes the toolkit look up each edge's neighbours, and theirs, for every
// edge of every cell as it lays a table out and again as it draws it: most of the PDF's cost.
// Separate borders of half the width draw the same rules, each cell its half beside its
// neighbour's, with no look-up. The text stays where it stood: a collapsed edge gives each
// cell half its width as padding and a separate one its whole (half) width, and the table's
// padding stands for the half of its outermost edges, which the toolkit rounds to a device
// pixel.
void SeparateTableBorders(QTextDocument& document, double device_per_px) {
  for (QTextFrame* frame : document.rootFrame()->childFrames()) {
    auto* table = qobject_cast<QTextTable*>(frame);
    if (!table || !table->format().borderCollapse()) continue;
    double widest = 0.0;
    for (int row = 0; row < table->rows(); ++row) {
      for (int column = 0; column < table->columns(); ++column) {
        QTextTableCell cell = table->cellAt(row, column);
        if (cell.row() != row || cell.column() != column) continue;  // spanned
        QTextTableCellFormat edges = cell.format().toTableCellFormat();
        widest = std::max({widest, edges.topBorder(), edges.bottomBorder(), edges.leftBorder(),
                           edges.rightBorder()});
        edges.setTopBorder(edges.topBorder() / 2.0);
        edges.setBottomBorder(edges.bottomBorder() / 2.0);
        edges.setLeftBorder(edges.leftBorder() / 2.0);
        edges.setRightBorder(edges.rightBorder() / 2.0);
        cell.setFormat(edges);
      }
    }
    QTextTableFormat format = table->format();
    format.setBorderCollapse(false);
    format.setCellSpacing(0.0);
    // A hair over the device pixels, as the toolkit truncates lengths to its 64ths of one.
    const double half_edge =
        (std::round(widest / 2.0 * device_per_px) + 1.0 / 256.0) / device_per_px;
    format.setTopMargin(format.topMargin() + half_edge);
    format.setBottomMargin(format.bottomMargin() + half_edge);
    format.setLeftMargin(format.leftMargin() + half_edge);
    format.setRightMargin(format.rightMargin() + half_edge);
    table->setFormat(format);
  }
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

// Moves each heading that its page would part from what follows it (the verdict under it,
// the plot, the first rows of its table) to the next page, one at a time, as each move
// shifts the rest.
void KeepHeadingsWithTheirText(QTextDocument& document, double page_height) {
  const double line = QFontMetricsF(document.defaultFont(), document.documentLayout()->paintDevice())
                          .lineSpacing();
  auto page_of = [page_height](double y) { return static_cast<int>(std::floor(y / page_height)); };
  for (int moves = 0; moves < 1000; ++moves) {
    const std::vector<PagePiece> pieces = PiecesOf(document);
    bool moved = false;
    for (std::size_t i = 0; i < pieces.size() && !moved; ++i) {
      const PagePiece& h = pieces[i];
      if (!h.heading.isValid() || i + 1 >= pieces.size()) continue;
      // The heading, the text under it when it is a short paragraph, then what that leads to.
      std::size_t last = i + 1;
      while (last + 1 < pieces.size() && last < i + 3 && LeadsOn(pieces[last], line)) ++last;
      const double top = h.rect.top(), bottom = KeptBottom(pieces[last], line);
      if (page_of(top) == page_of(bottom - 1e-6) || bottom - top > kKeptShare * page_height)
        continue;
      if (h.heading.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)
        continue;
      QTextBlockFormat format = h.heading.blockFormat();
      format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
      QTextCursor(h.heading).setBlockFormat(format);
      moved = true;
    }
    if (!moved) return;
  }
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

}  // namespace

std::string DrawReportPdf(const ZelReportDocument& report, std::string& pdf) {
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
    document.setHtml(html);
    // The toolkit's pixel is a 96th of an inch.
    SeparateTableBorders(document, writer.logicalDpiY() / 96.0);
    PlacePlots(document);
    const double footer = kFooterMm * writer.resolution() / 25.4;
    const QSizeF page(writer.width(), writer.height() - footer);
    document.setPageSize(page);
    KeepHeadingsWithTheirText(document, page.height());

    QPainter painter;
    if (!painter.begin(&writer)) return "the PDF cannot be drawn";
    const int pages = document.pageCount();
    for (int n = 0; n < pages; ++n) {
      if (n > 0) writer.newPage();
      const QRectF view(0.0, n * page.height(), page.width(), page.height());
      painter.save();
      painter.translate(0.0, -view.top());
      document.drawContents(&painter, view);
      painter.restore();
      DrawPageNumber(painter, QRectF(0.0, page.height(), page.width(), footer), n + 1, pages);
    }
    painter.end();
  }
  pdf.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  return {};
}

#include "qt_report_pdf.moc"
