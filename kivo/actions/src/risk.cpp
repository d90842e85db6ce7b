#include "kivo/actions/risk.h"

namespace kivo::actions {

std::optional<RiskLevel> risk_from_ordinal(int ordinal) {
  switch (ordinal) {
    case 0: return RiskLevel::DocumentEdit;
    case 1: return RiskLevel::Effect;
    case 2: return RiskLevel::View;
    default: return std::nullopt;
  }
}

OperationClass operation_class(RiskLevel risk) {
  switch (risk) {
    case RiskLevel::DocumentEdit: return OperationClass::None;
    case RiskLevel::Effect: return OperationClass::Effect;
    case RiskLevel::View: return OperationClass::View;
  }
  return OperationClass::None;
}

std::string_view name(RiskLevel risk) {
  switch (risk) {
    case RiskLevel::DocumentEdit: return "document_edit";
    case RiskLevel::Effect: return "effect";
    case RiskLevel::View: return "view";
  }
  return "document_edit";
}

std::string_view name(OperationClass operation_class) {
  switch (operation_class) {
    case OperationClass::None: return "none";
    case OperationClass::View: return "view";
    case OperationClass::Effect: return "effect";
  }
  return "none";
}

}  // namespace kivo::actions
