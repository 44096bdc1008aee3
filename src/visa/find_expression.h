// SPDX-License-Identifier: MIT
#pragma once
// VISA resource search expressions: `?` any one character, `*` zero or more and `+` one or more of
// the preceding character or group, `[set]` and `[^set]` with ranges, `( )` groups, `|` between
// alternatives (lowest precedence), `\` takes the next character literally. An expression matches
// the whole resource string, ignoring ASCII case.
//
// Compiled to a Thompson automaton and run as a state-set simulation: matching costs at most
// (expression size x resource length) steps whatever the expression, and neither compiling nor
// matching recurses, so a hostile or very long expression can neither blow up nor overflow the stack.
#include <bitset>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace kalivor::visa {

class FindExpression {
 public:
  // Longer expressions are refused as invalid; real ones are a few dozen characters.
  static constexpr std::size_t kMaxLength = 65536;

  // nullopt for an invalid expression (unbalanced parentheses or brackets, a `*` or `+` with
  // nothing before it, a reversed range, a trailing `\`, ...): VI_ERROR_INV_EXPR.
  static std::optional<FindExpression> compile(std::string_view expr);

  bool matches(std::string_view resource) const;

 private:
  enum class Kind : unsigned char { Set, Split, Empty, Match };
  struct State {
    Kind kind = Kind::Empty;
    int set = -1;   // index into sets_ (Kind::Set)
    int out = -1;   // next state (Set, Empty, Split)
    int out1 = -1;  // second branch (Split)
  };

  std::vector<State> states_;
  std::vector<std::bitset<256>> sets_;
  int start_ = -1;
};

}  // namespace kalivor::visa
