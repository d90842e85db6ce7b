#pragma once

namespace kivo {

// Builds a visitor for std::visit from lambdas, one per alternative.
template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};

}  // namespace kivo
