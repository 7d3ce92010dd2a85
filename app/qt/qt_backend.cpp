#include "app/qt/qt_backend.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include "app/qt/qt_dialog_view.h"
#include "app/qt/qt_graph_view.h"
#include "app/qt/qt_picture.h"
#include "app/qt/qt_report_pdf.h"
#include "app/qt/qt_text.h"
#include "host/zel_dialog.h"
#include "host/zel_graph.h"

namespace {

struct ButtonMap {
  int answer;
  QMessageBox::StandardButton button;
};

constexpr ButtonMap kButtons[] = {
    {kIdOk, QMessageBox::Ok},         {kIdCancel, QMessageBox::Cancel},
    {kIdAbort, QMessageBox::Abort},   {kIdRetry, QMessageBox::Retry},
    {kIdIgnore, QMessageBox::Ignore}, {kIdYes, QMessageBox::Yes},
    {kIdNo, QMessageBox::No},
};

QMessageBox::StandardButton ButtonOf(int answer) {
  for (const ButtonMap& b : kButtons)
    if (b.answer == answer) return b.button;
  return QMessageBox::Ok;
}

int AnswerOf(int button) {
  for (const ButtonMap& b : kButtons)
    if (b.button == button) return b.answer;
  return 0;
}

QMessageBox::Icon IconOf(unsigned style) {
  switch (style & kMbIconMask) {
    case kMbIconError: return QMessageBox::Critical;
    case kMbIconQuestion: return QMessageBox::Question;
    case kMbIconWarning: return QMessageBox::Warning;
    case kMbIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

QtUiBackend::QtUiBackend() {
  clock_.start();
  // The simulated drive moves with the clock even while no dialog timer runs.
  clock_tick_ = new QTimer;
  clock_tick_->setInterval(10);
  QObject::connect(clock_tick_, &QTimer::timeout, [this] { NotifyClock(NowMs()); });
}

QtUiBackend::~QtUiBackend() {
  for (auto& [key, timer] : timers_) delete timer;
  delete clock_tick_;
  delete help_;
}

QtDialogView* QtUiBackend::ViewOf(const CZel_Dialog& dialog) const {
  for (const Modal& m : stack_)
    if (m.dialog == &dialog) return m.view;
  return nullptr;
}

QtDialogView* QtUiBackend::TopView() const { return stack_.empty() ? nullptr : stack_.back().view; }

void QtUiBackend::RunModal(CZel_Dialog& dialog) {
  auto* view = new QtDialogView(dialog, TopView());
  // Modal to the dialogs below it only: the simulated drive's panel is the drive's hardware,
  // which a person handles whatever dialog is open. The outermost dialog has none below it.
  const bool outermost = stack_.empty();
  view->setWindowModality(outermost ? Qt::NonModal : Qt::WindowModal);
  ZelDialogView* previous_view = dialog.GetView();
  dialog.AttachView(view);
  view->SyncAll();
  QEventLoop loop;
  stack_.push_back({&dialog, view, &loop});
  if (stack_.size() == 1) clock_tick_->start();
  dialog.ModalInit();
  if (!dialog.HasEnded()) {
    view->FitToScreen();
    view->PlaceOnScreen();
    view->show();
    // Qt makes a dialog without a parent the transient child of the window that was active
    // (the panel): a dialog modal over it would then block the panel too.
    if (outermost && view->windowHandle()) view->windowHandle()->setTransientParent(nullptr);
    dialog.ModalShown();
    // What the dialog showed or hid as it came on screen changes its size; measured before,
    // the window would keep the room of rows that are gone (or lack that of new ones).
    if (!dialog.HasEnded()) {
      view->FitToScreen();
      view->PlaceOnScreen();
    }
    if (on_shown && !dialog.HasEnded()) on_shown(*view);
  }
  if (!dialog.HasEnded()) loop.exec(QEventLoop::DialogExec);
  stack_.pop_back();
  if (stack_.empty()) clock_tick_->stop();
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->first.first == &dialog) {
      it->second->deleteLater();
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
  dialog.AttachView(previous_view);
  view->hide();
  delete view;
}

void QtUiBackend::EndModal(CZel_Dialog& dialog) {
  for (const Modal& m : stack_) {
    if (m.dialog == &dialog) m.loop->quit();
  }
}

bool QtUiBackend::SetTimer(CZel_Dialog& dialog, unsigned id, unsigned period_ms) {
  QTimer*& timer = timers_[{&dialog, id}];
  if (!timer) {
    timer = new QTimer;
    timer->setTimerType(Qt::PreciseTimer);
    CZel_Dialog* target = &dialog;
    QObject::connect(timer, &QTimer::timeout, [this, target, id] {
      NotifyClock(NowMs());
      target->DispatchTimer(id);
    });
  }
  timer->start(static_cast<int>(std::max(period_ms, 1u)));
  return true;
}

bool QtUiBackend::KillTimer(CZel_Dialog& dialog, unsigned id) {
  auto it = timers_.find({&dialog, id});
  if (it == timers_.end()) return false;
  // The handler that kills its own timer is still running inside the timer's signal.
  it->second->stop();
  it->second->deleteLater();
  timers_.erase(it);
  return true;
}

int QtUiBackend::MessageBox(const ZelMessageBoxRequest& request) {
  QMessageBox box(IconOf(request.style), QtText(request.caption), QtText(request.text),
                  QMessageBox::NoButton, TopView());
  if (TopView()) box.setWindowModality(Qt::WindowModal);
  const std::vector<int> answers = ZelMessageBoxButtons(request.style);
  for (int answer : answers) box.addButton(ButtonOf(answer));
  box.setDefaultButton(ButtonOf(answers.front()));
  box.exec();
  const int answer = AnswerOf(box.standardButton(box.clickedButton()));
  if (answer) return answer;
  // Closed without a button: the way out that the box offers.
  for (int way_out : {kIdCancel, kIdNo, kIdOk})
    if (std::find(answers.begin(), answers.end(), way_out) != answers.end()) return way_out;
  return answers.back();
}

bool QtUiBackend::PumpMessages() {
  // True only when something was dispatched: the dialogs pump while this holds, and an
  // answer of "always" would keep them there for good.
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  return dispatcher && dispatcher->processEvents(QEventLoop::AllEvents);
}

void QtUiBackend::OpenDocument(const std::string& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void QtUiBackend::ShowHelp(const std::string& help_path, unsigned context) {
  const std::string page = ZelHelpPage(help_path, context);
  if (page.empty()) {
    QMessageBox::information(TopView(), "Help",
                             QString("There is no help page for topic %1.").arg(context));
    return;
  }
  // A child of the dialog in front, so that its modality does not block the help window.
  if (!help_ || help_->parentWidget() != TopView()) {
    delete help_;
    help_ = new QDialog(TopView(), Qt::Window);
    help_->setWindowTitle("dcservo help");
    help_->setObjectName("help_window");
    auto* column = new QVBoxLayout(help_);
    auto* browser = new QTextBrowser(help_);
    browser->setObjectName("help_browser");
    browser->setOpenExternalLinks(false);
    column->addWidget(browser);
    help_->resize(720, 600);
  }
  auto* browser = help_->findChild<QTextBrowser*>("help_browser");
  browser->setSource(QUrl::fromLocalFile(QtText(page)));
  help_->show();
  help_->raise();
}

std::string QtUiBackend::FileDialog(const ZelFileDialogRequest& request) {
  const QString path =
      request.save ? QFileDialog::getSaveFileName(TopView(), QtText(request.title),
                                                  QtText(request.initial), QtText(request.filter))
                   : QFileDialog::getOpenFileName(TopView(), QtText(request.title),
                                                  QtText(request.initial), QtText(request.filter));
  return path.toStdString();
}

int QtUiBackend::ContextMenu(CZel_Dialog& dialog, const std::vector<ZelMenuItem>& items) {
  QMenu menu(ViewOf(dialog));
  for (const ZelMenuItem& item : items) {
    if (item.command == 0) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(QtText(item.text));
    action->setData(item.command);
    action->setEnabled(item.enabled);
    action->setCheckable(item.checked);
    action->setChecked(item.checked);
  }
  QAction* chosen = menu.exec(QCursor::pos());
  return chosen ? chosen->data().toInt() : 0;
}

double QtUiBackend::NowMs() const { return static_cast<double>(clock_.nsecsElapsed()) / 1e6; }

unsigned QtUiBackend::KeyboardModifiers() const {
  const Qt::KeyboardModifiers m = QGuiApplication::queryKeyboardModifiers();
  return (m & Qt::ShiftModifier ? kKeyShift : 0u) | (m & Qt::ControlModifier ? kKeyCtrl : 0u) |
         (m & Qt::AltModifier ? kKeyAlt : 0u);
}

std::string QtUiBackend::PrintReportPdf(const ZelReportDocument& report, std::string& pdf) {
  return DrawReportPdf(report, pdf);
}

std::string QtUiBackend::SaveGraphPicture(const CGraphWindow& graph,
                                          const std::string& png_path) {
  QtDialogView* view = graph.GetParentDialog() ? ViewOf(*graph.GetParentDialog()) : nullptr;
  QtGraphView* chart = view ? view->Graph(graph.GetControlId()) : nullptr;
  if (!chart || !chart->isVisible()) return UiBackend::SaveGraphPicture(graph, png_path);
  view->DrawWaitingPoints();
  return SaveWidgetPng(*chart, png_path);
}
