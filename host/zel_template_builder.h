#pragma once
// Writes a control template as a dialog's layout reads: boxes stacked in columns, fields of
// label, edit and unit selector on one row, and a row of dialog buttons. Each call adds one
// control (or one field) to the end of the template; Build hands the template over.

#include <string>
#include <utility>
#include <vector>

#include "host/zel_dialog_template.h"

class ZelTemplateBuilder {
 public:
  ZelTemplateBuilder(unsigned id, std::string caption, unsigned help_context = 0);

  // A frameless box in the dialog's grid; the boxes put in it stack one below the other
  // without lining their rows up with the neighbouring columns'.
  ZelTemplateBuilder& Column(int id, int col, int row = 0);
  // A framed box at the next free row of `parent` (a column, another box, or 0: the dialog).
  ZelTemplateBuilder& Box(int id, std::string caption, int parent, ZelPlace place = {},
                          unsigned style = 0);
  ZelTemplateBuilder& Add(int id, ZelControlKind kind, std::string caption, int box,
                          ZelPlace place = {}, unsigned style = 0, int radio_group = 0);
  // A label, its edit and (unless unit_id is 0) its unit selector, on `row` from `col`.
  ZelTemplateBuilder& Field(int label_id, std::string label, int edit_id, int unit_id, int box,
                            int row, int col = 0);
  // A field of the setup's parameter `name`, placed as Field places it and bound by the dialog
  // that opens the template. Its label takes an id (label_id) only where something refers to it.
  ZelTemplateBuilder& ParameterField(std::string name, std::string label, int edit_id, int unit_id,
                                     int box, int row, int col = 0, int label_id = 0);
  // An edit with no label of its own, or a check box, bound to the setup's parameter `name`.
  ZelTemplateBuilder& ParameterEdit(std::string name, int id, int box, ZelPlace place);
  ZelTemplateBuilder& ParameterCheck(std::string name, int id, std::string caption, int box,
                                     ZelPlace place = {});
  // A drop-down list of the values of the setup's switch parameter `name`, bound as above.
  ZelTemplateBuilder& ParameterList(std::string name, int id, int box, ZelPlace place = {});
  // The control added last shows the setup's parameter `name`, bound by the dialog that opens the
  // template (an edit and its unit selector each name it).
  ZelTemplateBuilder& Binds(std::string name);
  // The entries of the drop-down, or the image of the picture or bitmap button, added last.
  ZelTemplateBuilder& Items(std::vector<std::string> items);
  ZelTemplateBuilder& Image(std::string image);
  // A hidden box at `row` spanning `cols` columns with the dialog buttons from the right:
  // OK, Cancel and, unless help_id is 0, Help. Controls added to `box_id` later go left.
  ZelTemplateBuilder& DialogButtons(int box_id, int row, int cols, int help_id = 0,
                                    int first_col = 2);

  ZelDialogTemplate Build() { return std::move(t_); }

 private:
  ZelDialogTemplate t_;
};
