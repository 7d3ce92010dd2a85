// `dcservo edit`: the drive setup dialog, opened through the plug-in's EditSetup as a host
// opens it, or with --dialog any dialog or test of the registry on its own. On screen by
// default; with --script the dialog runs headless from a dialog script; with --screenshot its
// picture is drawn off screen once the run is over.

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/command.h"
#include "app/drive_conditions.h"
#include "app/drive_link_option.h"
#include "app/gui_module.h"
#include "app/speed_report_option.h"
#include "app/simulated_drive_session.h"
#include "host/zel_dialog.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_dialog_script.h"
#include "host/zel_dialog_setup.h"
#include "host/zel_headless.h"
#include "sim/simulated_drive.h"

namespace {

ZelFileDialogRequest SaveAsRequest() {
  ZelFileDialogRequest request;
  request.save = true;
  request.title = "Save the drive setup as";
  request.filter = "Drive setups (*.json);;All files (*)";
  request.initial = "setup.json";
  return request;
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

class EditCommand : public Command {
 public:
  const char* Name() const override { return "edit"; }
  const char* Description() const override {
    return "Open the Drive Setup dialog; OK saves the setup, Cancel leaves it as it was";
  }

  void Define(CLI::App& cmd) override {
    args_.AddTo(cmd);
    cmd.add_option("SETUP", positional_setup_, "Drive setup file (same as --setup)")
        ->check(FileName());
    cmd.add_option("--out", out_, "Save to this file on OK instead of the setup's own file")
        ->check(FileName());
    cmd.add_option("--script", script_, "Run the dialog headless from this dialog script")
        ->check(FileName());
    cmd.add_option("--dialog", dialog_,
                   "Open this dialog or test on its own instead of the drive setup: " +
                       JoinedDialogNames());
    cmd.add_option("--screenshot", screenshot_,
                   "Draw the dialog off screen (after the script, if one is given) as PNG")
        ->check(OutputFile({".png"}));
    AddSpectrumOption(cmd, spectrum_, "for the filters dialog as if that test had just run");
    cmd.add_option("--fault", faults_, "Fault of the simulated drive, NAME or NAME=VALUE")
        ->allow_extra_args(false);
    drive_.AddTo(cmd);
  }

  void Execute(const CLI::App& cmd) override {
    if (!dialog_.empty() && !ZelIsDialogRegistered(dialog_))
      throw CommandError(kExitBadInput, "no dialog \"" + dialog_ + "\"; the dialogs are " +
                                            JoinedDialogNames());
    std::optional<ZelDialogScript> script;
    if (!script_.empty()) {
      ZelScriptParse parsed = ZelLoadDialogScript(script_);
      if (!parsed.ok) throw CommandError(kExitBadInput, parsed.error);
      script = std::move(parsed.script);
    }
    SetupSession session(ResolveSetup(args_.setup, positional_setup_));
    session.Apply(args_.InOrder(cmd));
    if (!spectrum_.empty()) TakeSpeedTestSpectrum(spectrum_, session.Setup());
    drive_.RefuseConditions(faults_);
    CheckFaults(session.Setup());
    remote_ = drive_.Open(session.Setup());
    // The bundled drive is never written: the user is asked where its edit goes.
    target_ = !out_.empty() ? out_ : session.IsBundled() ? std::string() : session.Path();

    // Where an edit of the bundled drive goes is asked while the dialog is still open, so that
    // cancelling the question returns to the dialog with the edits.
    const ZelOkHandler previous = ZelSetOutermostOkHandler([this](CZel_Setup&) {
      if (target_.empty()) target_ = ZelUi().FileDialog(SaveAsRequest());
      return !target_.empty();
    });
    const bool headless = script.has_value() || !screenshot_.empty();
    if (headless) RunHeadless(session, script ? *script : ZelDialogScript{});
    else RunOnScreen(session);
    ZelSetOutermostOkHandler(previous);
    // A headless run has saved already, while its report could still tell a failure.
    if (result_ == 1) {
      if (!headless) Save(session);
    } else if (script || screenshot_.empty()) {
      std::fprintf(stderr, "dcservo: cancelled; the setup was left as it was\n");
    }
    if (failure_code_ != 0) throw AlreadyTold(failure_code_);
  }

 private:
  // Refused before any dialog opens: a fault the simulated drive does not know, or a value
  // outside its range.
  void CheckFaults(CZel_Setup& setup) const {
    if (faults_.empty()) return;
    InjectFaults(*dcsim::MakeSimulatedDrive(setup));
  }
  void InjectFaults(dcsim::SimulatedDrive& drive) const {
    for (const std::string& f : faults_) {
      const NameValue c = ParseCondition(f, false);
      std::string error;
      if (!drive.Inject(c.name, c.value, error)) throw CommandError(kExitBadInput, error);
    }
  }

  void RunOnScreen(SetupSession& session) {
    if (!HasDisplay())
      throw CommandError(kExitFailed,
                         "no display to show the dialog on; use --script or --screenshot");
    std::unique_ptr<GuiScreen> screen = GuiModule().open_screen();
    // Without a drive on a link the simulated one stands in, with its panel beside the
    // dialogs, so that the tests can be run and tried by hand; a drive on a link has its
    // faults and its shaft where it is.
    SimulatedDriveSession drive(session.Setup(), remote_);
    if (drive.Simulated()) {
      InjectFaults(*drive.SharedDrive());
      screen->ShowDrivePanel(drive.SharedDrive());
      drive.on_shaft_blocked = [&screen] { screen->ShowShaftBlocked(true); };
    } else {
      screen->ShowDriveLink(drive_.address, [this, &session] { return Reconnect(session); });
    }
    result_ = OpenDialog(session);
  }

  // A new link to the drive, checked as the first was, in place of the lost one.
  std::string Reconnect(SetupSession& session) {
    try {
      std::shared_ptr<CZel_DriveLink> link = drive_.Open(session.Setup());
      CZel_Comm::Attach(link);
      remote_ = std::move(link);
      return "";
    } catch (const CommandError& e) {
      return e.what();
    }
  }

  void RunHeadless(SetupSession& session, const ZelDialogScript& script) {
    std::unique_ptr<GuiPainter> painter;
    if (!screenshot_.empty()) painter = GuiModule().make_painter();
    std::string picture_error = screenshot_.empty() ? "" : "the dialog was never shown";
    ZelHeadlessBackend* backend = nullptr;
    auto prepare = [&](ZelHeadlessBackend& ui) {
      backend = &ui;
      if (!painter) return;
      ui.on_loop_end = [&](CZel_Dialog& dialog) {
        if (ui.OpenDialogs().size() != 1) return;
        picture_error = painter->SavePicture(dialog, screenshot_);
        drawn_ = ZelStripMnemonic(dialog.GetCaption());
      };
    };
    const ZelScriptResult run = ZelRunWithScript(
        script,
        [&] {
          SimulatedDriveSession drive(session.Setup(), remote_);
          if (drive.Simulated()) InjectFaults(*drive.SharedDrive());
          result_ = OpenDialog(session);
          // Saved while the run is still on record, so that its report tells a failed save.
          if (result_ == 1) {
            try {
              Save(session);
            } catch (const CommandError& e) {
              backend->Fail(e.what());
              save_code_ = e.code;
            }
          }
          return result_;
        },
        prepare);
    std::printf("%s\n", run.report.c_str());
    for (const std::string& e : run.errors) std::fprintf(stderr, "dcservo: %s\n", e.c_str());
    if (!picture_error.empty()) std::fprintf(stderr, "dcservo: %s\n", picture_error.c_str());
    else if (!screenshot_.empty())
      std::fprintf(stderr, "dcservo: drew \"%s\" to %s\n", drawn_.c_str(), screenshot_.c_str());
    if (save_code_ != 0) failure_code_ = save_code_;
    else if (!run.ok() || !picture_error.empty()) failure_code_ = kExitFailed;
  }

  static std::string JoinedDialogNames() {
    std::string joined;
    for (const std::string& name : ZelRegisteredDialogNames())
      joined += (joined.empty() ? "" : ", ") + name;
    return joined;
  }

  // The drive setup goes through the export, as a host opens it; any other dialog is built
  // from the registry, as the dialog that opens it would.
  int OpenDialog(SetupSession& session) {
    if (dialog_.empty()) return session.Plugin().EditSetup(&session.Setup());
    std::unique_ptr<CZel_Dialog> dialog = ZelCreateDialog(dialog_, session.Setup());
    return dialog ? dialog->DoModal() : 0;
  }

  void Save(SetupSession& session) {
    if (target_.empty()) {
      std::fprintf(stderr, "dcservo: no file was chosen; the edit was not saved\n");
      return;
    }
    session.Save(target_);
    std::fprintf(stderr, "dcservo: saved %s\n", target_.c_str());
  }

  SetupArgs args_;
  std::string positional_setup_, out_, script_, screenshot_, dialog_, target_, drawn_, spectrum_;
  int result_ = 0;
  int save_code_ = 0;  // the exit code of a save that failed
  int failure_code_ = 0;  // a headless run that failed, told by its report
  DriveLinkOption drive_;
  std::shared_ptr<CZel_DriveLink> remote_;
  std::vector<std::string> faults_;
};

}  // namespace

std::unique_ptr<Command> MakeEditCommand() { return std::make_unique<EditCommand>(); }
