#pragma once
// Operation answers as short texts, so a whole table of cases compares line by line.

#include <string>
#include <variant>

#include "kivo/ui/application.h"

namespace remote::app::testing {

struct AnswerText {
  std::string operator()(const kivo::ui::operation::NotHandled&) const { return "not handled"; }
  std::string operator()(const kivo::ui::operation::Done&) const { return "done"; }
  std::string operator()(const kivo::ui::operation::Completed&) const { return "completed"; }
  std::string operator()(const kivo::ui::operation::Started&) const { return "started"; }
  std::string operator()(const kivo::ui::operation::NothingToReport&) const { return "nothing"; }
  std::string operator()(const kivo::ui::operation::Error& e) const { return "error: " + e.message; }
  std::string operator()(const kivo::ui::operation::Failed& f) const { return "failed " + f.code + ": " + f.message; }
  std::string operator()(const kivo::ui::operation::Cancelled& c) const { return "cancelled: " + c.message; }
};

template <class Result>
std::string text(const Result& result) {
  return std::visit(AnswerText{}, result);
}

}  // namespace remote::app::testing
