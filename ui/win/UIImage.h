// One image attribute of a control ("bkimage", "normalimage", ...): the
// description as written, parsed once, and the result of loading it. A
// description whose image failed to load is not tried again until the
// attribute is set anew.
#pragma once

#include <string>

#include "ui/markup_tree/MarkupValues.h"

namespace SkinUI {

struct TImageInfo;

class CImageAttr {
 public:
  void Set(const std::wstring& value) {
    value_ = value;
    parsed_ = false;
    failed_ = false;
    image_ = nullptr;
  }
  const std::wstring& Value() const { return value_; }
  bool IsEmpty() const { return value_.empty(); }

  const ImageDescription& Description() {
    if (!parsed_) {
      description_ = ParseImageDescription(value_);
      parsed_ = true;
    }
    return description_;
  }
  bool failed_ = false;
  const TImageInfo* image_ = nullptr;

 private:
  std::wstring value_;
  bool parsed_ = false;
  ImageDescription description_;
};

}  // namespace SkinUI
