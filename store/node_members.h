// Late-bound members that several node classes of the store share under the
// same names (inside the store only): GetAttr with an optional default, and
// the free caller values Data and DataVariant.
#pragma once

#include "common/dispatch.h"

namespace quill::detail {

// "GetAttr"(AttrName, optional Default) calling T::getAttr(name, default).
template <class T>
void addGetAttr(ClassInfo& c) {
  c.method<T>("GetAttr", 1, [](T& t, Args a) { return Variant(t.getAttr(a[0].toText(), arg(a, 1).toText())); });
}

// "Data" (a 32-bit integer; a value let is converted) and "DataVariant" (any
// value, an object held as a reference), over T::data and T::dataVariant.
template <class T>
void addCallerData(ClassInfo& c) {
  c.property<T>(
      "Data", [](T& t) { return Variant(t.data); }, [](T& t, const Variant& v) { t.data = v.toLong(); });
  c.property<T>(
      "DataVariant", [](T& t) { return t.dataVariant; }, [](T& t, const Variant& v) { t.dataVariant = v; });
}

}  // namespace quill::detail
