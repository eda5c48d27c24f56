// The four page generators. Each makes its pages in one outputFile() call:
//   clsSubject    Output/Subject.htm    groups by first character
//   clsCodeIndex  Output/Index.htm      every item code, in code order
//   clsImgList    Output/<group>.htm    one page per group: makers and items
//   clsDetail     Output/Detail_<code>.htm  one page per item
// They read the catalogue (catalogue.h) and fill the templates through the
// template engine.
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
  using GroupMap = OrderedMap<std::string, int>;  // group name -> group number
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
  struct GroupMakers {
    Group group;
    std::vector<std::string> makers;  // distinct, in name order
  };
  void loadMakers();
  void makeGroupPage(const GroupMakers& entry);
  void checkNoOtherPage(const std::string& group, const std::string& fileName);
  void writeItem(MarlPart& child);

  std::vector<GroupMakers> groups_;
  const GroupMakers* current_ = nullptr;
  std::string currentMaker_;
  Recordset items_;
  std::shared_ptr<MarlPart> root_;
};

class clsDetail final : public PageGenerator {
 public:
  const ClassInfo& classInfo() const override;

 protected:
  void generate() override;
  void writeContainer(MarlPart& child) override;

 private:
  void readRow();
  void makeDetailPage();

  Group currentGroup_;
  std::string groupFile_;  // the group's page, URL-encoded
  Recordset items_;
  OrderedMap<std::string, std::string> rowFields_;
  std::string currentCode_;
  std::string previousCode_;
  std::string nextCode_;
  std::string groupLetter_;
  std::shared_ptr<MarlPart> root_;
};

}  // namespace quill::pages
