#include "host/zel_coff.h"

#include "host/zel_names.h"

std::string CZel_CoffFormat::ProgramNameOfPath(std::string_view path) {
  const auto slash = path.find_last_of("/\\");
  std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const auto dot = file.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) file = file.substr(0, dot);
  return std::string(file);
}

int CZel_CoffFormat::ReadCoff() {
  loaded_ = false;
  image_.clear();
  run_ = 0;
  program_ = ProgramNameOfPath(path_);
  if (program_.empty()) {
    CZel_Comm::SetLastErrorText("no program file is named");
    return 0;
  }
  CZel_DriveLink* link = CZel_Comm::GetLink();
  if (!link) {
    CZel_Comm::SetLastErrorText("no drive is connected to load \"" + program_ + "\" for");
    return 0;
  }
  if (!link->DescribeProgram(program_, image_)) {
    CZel_Comm::SetLastErrorText(link->LastError());
    image_.clear();
    return 0;
  }
  loaded_ = true;
  return 1;
}

ZelProgramVariable* CZel_CoffFormat::Find(std::string_view name) {
  for (ZelProgramVariable& v : image_) {
    if (zel::NamesEqual(v.name, name)) return &v;
  }
  return nullptr;
}

const ZelProgramVariable* CZel_CoffFormat::Find(std::string_view name) const {
  return const_cast<CZel_CoffFormat*>(this)->Find(name);
}
