#pragma once
// The widgets of the dialogs' controls, one row per control kind: how a control's widget is
// made, wired to the user's actions and made to show the control's state. The dialog view
// (app/qt/qt_dialog_view.h) lays them out and keeps them equal to the dialog.

#include <QBoxLayout>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <functional>
#include <string>

#include "host/zel_dialog.h"

// In the dialogs a box is a control like any other: hiding or disabling it leaves the
// controls inside alone. A QGroupBox would take its children with it, so the frame and its
// caption are drawn separately from the children's grid.
class QtGroupFrame : public QFrame {
 public:
  explicit QtGroupFrame(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 4, 8, 8);
    column->setSpacing(4);
    title_ = new QLabel(this);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    column->addWidget(title_);
    body_ = new QWidget(this);
    grid_ = new QGridLayout(body_);
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setHorizontalSpacing(8);
    grid_->setVerticalSpacing(4);
    column->addWidget(body_);
    column->addStretch(1);
  }
  void SetTitle(const QString& text) {
    title_->setText(text);
    title_->setVisible(frame_shown_ && !text.isEmpty());
  }
  void SetFrameShown(bool shown) {
    frame_shown_ = shown;
    // Each change of the shape lays the window out again: a status that a run updates
    // often must not cost that.
    const QFrame::Shape shape = shown ? QFrame::StyledPanel : QFrame::NoFrame;
    if (frameShape() != shape) setFrameShape(shape);
    title_->setVisible(shown && !title_->text().isEmpty());
  }
  void SetTitleEnabled(bool on) { title_->setEnabled(on); }
  // The body, not the space below it, takes the room the box is given.
  void LetBodyGrow() {
    auto* column = static_cast<QBoxLayout*>(layout());
    column->setStretch(1, 1);
    column->setStretch(2, 0);
  }
  QWidget* Body() const { return body_; }
  QGridLayout* Grid() const { return grid_; }

 private:
  QLabel* title_;
  QWidget* body_;
  QGridLayout* grid_;
  bool frame_shown_ = true;
};

// Runs a user action on the dialog for the control the widget belongs to.
using QtUserAction = std::function<void(const std::function<void(CZel_Dialog&)>&)>;

struct QtControlKindRow {
  ZelControlKind kind;
  QWidget* (*create)(const ZelControlDef& def, QWidget* parent);
  // Null: the widget takes no input.
  void (*connect)(QWidget* w, QObject* context, int id, const QtUserAction& act);
  // Null: nothing of the state but enabled and shown.
  void (*show)(QWidget* w, const ZelControlDef& def, const ZelControlState& s);
};

const QtControlKindRow& QtControlKindRowOf(ZelControlKind kind);

// A caption as the widgets show it: without its mnemonic "&".
QString QtShownCaption(const std::string& text);

// A colour of 0 gives the widget the palette of the style back.
void QtShowTextColour(QWidget* w, unsigned rgb);
