// Which file of a project folder is its workbook. A project's catalogue is
// Data.xls, Data.xlsx, Data.ods or Data.csv; when several are there, the one
// modified last is taken, so that an old Data.xls left beside a new
// Data.xlsx is never published silently. The generation run, the main
// window's Edit Excel command and the Designer all ask here.
#pragma once

#include <string>
#include <vector>

namespace quill {

struct WorkbookChoice {
  std::string path;                     // the workbook (Data.xls when there is none)
  bool exists = false;
  std::vector<std::string> passedOver;  // the other workbooks present, older
};

// Looks in projectFolder (names compared without regard to ASCII case).
WorkbookChoice findWorkbook(const std::string& projectFolder);

// One sentence that says which workbook is taken and which are passed over
// ("" when there was no choice to make).
std::string describeChoice(const WorkbookChoice& choice);

}  // namespace quill
