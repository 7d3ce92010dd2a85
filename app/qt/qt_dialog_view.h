#pragma once
// One shown dialog: Qt widgets built from the dialog's control template, kept equal to the
// control model both ways. Model changes are copied into the widgets; user input goes to the
// dialog's User* calls, and the widget is then made to show what the model decided (a
// refused value, a radio button the binding unchecked, a tab change that was refused).

#include <QDialog>
#include <map>

#include "host/zel_dialog.h"

class QGridLayout;
class QScrollArea;
class QTimer;
class QtGraphView;

class QtDialogView : public QDialog, public ZelDialogView {
 public:
  QtDialogView(CZel_Dialog& dialog, QWidget* parent);
  ~QtDialogView() override;

  CZel_Dialog& Dialog() const { return dialog_; }
  // The widget of a control (objectName "ctl_<id>"), or null.
  QWidget* Widget(int id) const;
  QtGraphView* Graph(int id) const;
  // Copies the whole model into the widgets.
  void SyncAll();
  // Sizes the window to its content, within 1300 x 700 (a scroll area takes what does not
  // fit).
  void FitToScreen();
  // Makes room for content that appeared (a larger tab page), within the same limit, and
  // keeps the grown window on the screen.
  void GrowToContent();
  // Centred on the dialog below it (on the screen for the first), then moved as little as
  // needed to lie within the screen's free area.
  void PlaceOnScreen();
  // Moves the window as little as needed to lie within the screen's free area.
  void KeepOnScreen();
  // The size that shows every control without scrolling.
  QSize WantedSize() const;

  void ControlChanged(int id) override;
  void CaptionChanged() override;
  // New points are drawn together, a few times a second: Qt Charts lays a series out again
  // for every change, and an upload adds thousands of points one by one.
  void GraphChanged(int id, ZelGraphEvent event, int point) override;
  // Draws the points that wait for the next redraw now (before a picture is taken).
  void DrawWaitingPoints();

 protected:
  void reject() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Box {
    QWidget* body = nullptr;
    QGridLayout* grid = nullptr;
    int next_row = 0;
  };

  void Build();
  void StretchRows(const std::vector<int>& rows);
  QWidget* Create(const ZelControlDef& def);
  void Connect(const ZelControlDef& def, QWidget* widget);
  void Sync(int id);
  void SyncGroupFrame(int group_id);
  bool TakesRoom(int id) const;
  // Runs a user action unless one is already under way (a message box of the first can make
  // a field lose focus and commit again), then shows the control as the model has it.
  void Act(int id, const std::function<void()>& action);
  QSize SizeLimit() const;
  void DrawWaitingPoints(int graph_id);

  CZel_Dialog& dialog_;
  QScrollArea* scroll_ = nullptr;
  std::map<int, Box> boxes_;  // 0: the dialog itself
  std::map<int, QWidget*> widgets_;
  std::map<int, QtGraphView*> graphs_;
  // The graphs with points to draw at the next redraw: true when points already drawn have
  // new values.
  std::map<int, bool> waiting_points_;
  QTimer* redraw_ = nullptr;
  int acting_ = 0;
};
