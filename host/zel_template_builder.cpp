#include "host/zel_template_builder.h"

#include "host/zel_ui_backend.h"

using K = ZelControlKind;

ZelTemplateBuilder::ZelTemplateBuilder(unsigned id, std::string caption, unsigned help_context) {
  t_.id = id;
  t_.caption = std::move(caption);
  t_.help_context = help_context;
}

ZelTemplateBuilder& ZelTemplateBuilder::Column(int id, int col, int row) {
  return Add(id, K::Group, "", 0, {row, col}, kStyleHidden);
}

ZelTemplateBuilder& ZelTemplateBuilder::Box(int id, std::string caption, int parent,
                                            ZelPlace place, unsigned style) {
  return Add(id, K::Group, std::move(caption), parent, place, style);
}

ZelTemplateBuilder& ZelTemplateBuilder::Add(int id, ZelControlKind kind, std::string caption,
                                            int box, ZelPlace place, unsigned style,
                                            int radio_group) {
  ZelControlDef def{id, kind, std::move(caption), box, place, style};
  def.radio_group = radio_group;
  t_.controls.push_back(std::move(def));
  return *this;
}

ZelTemplateBuilder& ZelTemplateBuilder::Field(int label_id, std::string label, int edit_id,
                                              int unit_id, int box, int row, int col) {
  Add(label_id, K::Label, std::move(label), box, {row, col});
  Add(edit_id, K::Edit, "", box, {row, col + 1});
  if (unit_id) Add(unit_id, K::DropDown, "", box, {row, col + 2});
  return *this;
}

ZelTemplateBuilder& ZelTemplateBuilder::ParameterField(std::string name, std::string label,
                                                       int edit_id, int unit_id, int box, int row,
                                                       int col, int label_id) {
  Field(label_id, std::move(label), edit_id, unit_id, box, row, col);
  // The edit, and the unit selector after it.
  const std::size_t edit = t_.controls.size() - (unit_id ? 2 : 1);
  for (std::size_t i = edit; i < t_.controls.size(); ++i) t_.controls[i].parameter = name;
  return *this;
}

ZelTemplateBuilder& ZelTemplateBuilder::ParameterEdit(std::string name, int id, int box,
                                                      ZelPlace place) {
  Add(id, K::Edit, "", box, place);
  t_.controls.back().parameter = std::move(name);
  return *this;
}

ZelTemplateBuilder& ZelTemplateBuilder::ParameterCheck(std::string name, int id,
                                                       std::string caption, int box,
                                                       ZelPlace place) {
  Add(id, K::Check, std::move(caption), box, place);
  t_.controls.back().parameter = std::move(name);
  return *this;
}

ZelTemplateBuilder& ZelTemplateBuilder::ParameterList(std::string name, int id, int box,
                                                      ZelPlace place) {
  return Add(id, K::DropDown, "", box, place).Binds(std::move(name));
}

ZelTemplateBuilder& ZelTemplateBuilder::Binds(std::string name) {
  if (!t_.controls.empty()) t_.controls.back().parameter = std::move(name);
  return *this;
}

ZelTemplateBuilder& ZelTemplateBuilder::Items(std::vector<std::string> items) {
  if (!t_.controls.empty()) t_.controls.back().items = std::move(items);
  return *this;
}

ZelTemplateBuilder& ZelTemplateBuilder::Image(std::string image) {
  if (!t_.controls.empty()) t_.controls.back().image = std::move(image);
  return *this;
}

ZelTemplateBuilder& ZelTemplateBuilder::DialogButtons(int box_id, int row, int cols, int help_id,
                                                      int first_col) {
  Add(box_id, K::Group, "", 0, {row, 0, 1, cols}, kStyleHidden);
  Add(kIdOk, K::Button, "OK", box_id, {0, first_col});
  Add(kIdCancel, K::Button, "Cancel", box_id, {0, first_col + 1});
  if (help_id) Add(help_id, K::Button, "Help", box_id, {0, first_col + 2});
  return *this;
}
