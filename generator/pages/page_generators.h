// The four page generators. Each makes its pages in one outputFile() call:
//   clsSubject    Output/Subject.htm    groups by first character
//   clsCodeIndex  Output/Index.htm      every item code, in code order
//   clsImgList    Output/<group>.htm    one page per group: makers and items
//   clsDetail     Output/Detail_<code>.htm  one page per item
// They read table SHEET1 of Data.mdb (COL1 code, COL2 group, COL4 maker,
// COL6 flag) and fill the templates through the template engine.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/ordered_map.h"
#include "generator/pages/page_frame.h"

namespace quill::pages {

class clsSubject final : public PageGenerator {
 public:
  const ClassInfo& classInfo() const override;

 protected:
  void generate() override;
  void writeContainer(MarlPart& child) override;

 private:
  using GroupMap = OrderedMap<std::string, int>;
  OrderedMap<std::string, GroupMap> letters_;
  std::string currentLetter_;
  const GroupMap* currentGroups_ = nullptr;
  size_t position_ = 0;
};

class clsCodeIndex final : public PageGenerator {
 public:
  const ClassInfo& classInfo() const override;

 protected:
  void generate() override;
  void writeContainer(MarlPart& child) override;

 private:
  Recordset codes_;
  std::string currentCode_;
  size_t taken_ = 0;  // codes taken so far
};

class clsImgList final : public PageGenerator {
 public:
  const ClassInfo& classInfo() const override;

 protected:
  void generate() override;
  void writeContainer(MarlPart& child) override;

 private:
  using MakerMap = OrderedMap<std::string, std::string>;
  bool loadMakers();
  bool loadTemplate();
  bool makeGroupPage(int groupNum);
  void writeItem(MarlPart& child);

  OrderedMap<std::string, MakerMap> groups_;
  std::string currentGroup_;
  const MakerMap* currentMakers_ = nullptr;
  std::string currentMaker_;
  Recordset items_;
  std::shared_ptr<MarlPart> root_;
  bool stopContainer_ = false;
};

class clsDetail final : public PageGenerator {
 public:
  const ClassInfo& classInfo() const override;

 protected:
  void generate() override;
  void writeContainer(MarlPart& child) override;

 private:
  bool loadGroups();
  bool loadTemplate();
  bool makeDetailPage();

  OrderedMap<std::string, int> groupNumbers_;
  std::string currentGroup_;
  std::string groupFile_;  // the group's page, URL-encoded
  int currentGroupNum_ = 0;
  Recordset items_;
  OrderedMap<std::string, std::string> rowFields_;
  std::string currentCode_;
  std::string previousCode_;
  std::string nextCode_;
  std::string groupLetter_;
  std::shared_ptr<MarlPart> root_;
};

}  // namespace quill::pages
