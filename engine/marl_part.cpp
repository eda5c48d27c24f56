#include "engine/marl_part.h"

#include <cmath>

namespace quill {

namespace {

[[noreturn]] void wrongIndex(std::string indexText) {
  throw AutomationError(8003, "MarlParts.GetPart", "Wrong Index of " + indexText);
}

std::string textOrEmpty(const Variant& v) {
  try {
    return v.toText();
  } catch (const AutomationError&) {
    return {};
  }
}

// Replaces every occurrence of from (left to right, not overlapping) by to,
// without looking at the inserted text again.
void replaceAll(std::string& work, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  size_t hit = work.find(from);
  if (hit == std::string::npos) return;
  std::string out;
  out.reserve(work.size() + (to.size() > from.size() ? 4 * (to.size() - from.size()) : 0));
  size_t done = 0;
  while (hit != std::string::npos) {
    out.append(work, done, hit - done).append(to);
    done = hit + from.size();
    hit = work.find(from, done);
  }
  out.append(work, done, std::string::npos);
  work.swap(out);
}

}  // namespace

// ---------------------------------------------------------------- MarlParts

MarlParts::~MarlParts() {
  // Children whose only holder is this collection are dismantled here, their
  // own children moved onto a work list first, so that a tree of any depth is
  // freed in a loop instead of a chain of nested destructors.
  std::vector<PartRef> work = std::move(items_);
  while (!work.empty()) {
    PartRef p = std::move(work.back());
    work.pop_back();
    if (p && p.use_count() == 1 && p->parts_ && p->parts_.use_count() == 1) {
      auto& grandchildren = p->parts_->items_;
      for (auto& g : grandchildren) work.push_back(std::move(g));
      grandchildren.clear();
    }
  }
}

const MarlParts::PartRef& MarlParts::part(int64_t index) const {
  if (index < 1 || index > static_cast<int64_t>(items_.size())) wrongIndex(std::to_string(index));
  return items_[static_cast<size_t>(index - 1)];
}

const MarlParts::PartRef& MarlParts::getPart(const Variant& index) const {
  if (index.isNumeric()) {
    const double d = index.toDouble();
    if (d > 0 && d <= static_cast<double>(items_.size())) {
      const double r = std::nearbyint(d);
      if (r >= 1 && r <= static_cast<double>(items_.size())) return items_[static_cast<size_t>(r) - 1];
    }
  }
  wrongIndex(textOrEmpty(index));
}

const ClassInfo& MarlParts::classInfo() const {
  static const ClassInfo info = [] {
    ClassInfo c("MarlParts");
    c.method<MarlParts>("Count", 0, [](MarlParts& p, Args) { return Variant(p.count()); });
    c.method<MarlParts>("GetPart", 1, [](MarlParts& p, Args a) { return Variant(p.getPart(arg(a, 0))); });
    return c;
  }();
  return info;
}

// ----------------------------------------------------------------- MarlPart

const std::shared_ptr<MarlParts>& MarlPart::partsRef() const {
  if (!parts_) parts_ = std::make_shared<MarlParts>();
  return parts_;
}

const std::shared_ptr<MarlVars>& MarlPart::varsRef() const {
  if (!vars_) vars_ = std::make_shared<MarlVars>();
  return vars_;
}

std::string MarlPart::getText() const {
  std::string out;
  appendText(out);
  return out;
}

void MarlPart::appendText(std::string& out) const {
  if (type_ == kText) {
    if (canRenderBySegments())
      appendBySegments(out);
    else
      appendSequentially(out);
    return;
  }
  if (!parts_) return;
  for (const auto& child : parts_->items_)
    if (child->type_ == kText) child->appendText(out);
}

bool MarlPart::canRenderBySegments() const noexcept {
  if (!segmentsExact_) return false;
  if (!vars_) return true;
  // A code inside a value could complete a placeholder of a variable that is
  // replaced later; the last variable's value is inserted after every other
  // replacement, so it cannot.
  const size_t n = vars_->size();
  for (size_t i = 0; i + 1 < n; ++i)
    if (vars_->at(i).codeInValue()) return false;
  return true;
}

void MarlPart::appendBySegments(std::string& out) const {
  size_t total = out.size();
  for (const Segment& s : segments_) total += s.length + (s.var ? s.var->value().size() : 0);
  out.reserve(total);
  const char* base = orgText_.data();
  for (const Segment& s : segments_) {
    out.append(base + s.begin, s.length);
    if (s.var) out.append(s.var->value());
  }
}

void MarlPart::appendSequentially(std::string& out) const {
  std::string work = orgText_;
  if (vars_)
    for (size_t i = 0; i < vars_->size(); ++i) {
      const MarlVar& v = vars_->at(i);
      replaceAll(work, v.placeholder(), v.value());
    }
  out.append(work);
}

std::string MarlPart::getAttr(std::string_view name, std::string_view fallback) const {
  if (const std::string* v = attrs_.find(name)) return *v;
  return std::string(fallback);
}

const std::string& MarlPart::attrName(int64_t index) const {
  if (index < 1 || index > static_cast<int64_t>(attrs_.size()))
    throw runtimeError(kSubscriptOutOfRange, "MarlPart.GetAttrName");
  return attrs_.at(static_cast<size_t>(index - 1)).first;
}

const ClassInfo& MarlPart::classInfo() const {
  static const ClassInfo info = [] {
    ClassInfo c("MarlPart");
    c.property<MarlPart>("Parts", [](MarlPart& p) { return Variant(p.partsRef()); });
    c.property<MarlPart>("Key", [](MarlPart& p) { return Variant(p.key()); });
    c.property<MarlPart>("OrgText", [](MarlPart& p) { return Variant(p.orgText()); });
    // The layer argument is accepted and has no effect.
    c.method<MarlPart>("GetText", 0, [](MarlPart& p, Args) { return Variant(p.getText()); });
    c.property<MarlPart>("PartType", [](MarlPart& p) { return Variant(int32_t{p.partType()}); });
    c.method<MarlPart>("GetAttr", 1, [](MarlPart& p, Args a) {
      // Attribute names are text: any other kind of key finds nothing.
      const std::string* name = arg(a, 0).text();
      if (name)
        if (const std::string* v = p.attrs().find(*name)) return Variant(*v);
      return Variant(arg(a, 1).toText());
    });
    c.method<MarlPart>("GetAttrKeys", 0, [](MarlPart& p, Args) { return Variant(p.attrKeys()); });
    c.method<MarlPart>("GetAttrCount", 0, [](MarlPart& p, Args) { return Variant(p.attrCount()); });
    c.method<MarlPart>("GetAttrName", 1, [](MarlPart& p, Args a) {
      return Variant(p.attrName(arg(a, 0).toLong()));
    });
    c.property<MarlPart>("Vars", [](MarlPart& p) { return Variant(p.varsRef()); });
    return c;
  }();
  return info;
}

}  // namespace quill
