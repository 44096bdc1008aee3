// SPDX-License-Identifier: MIT
#include "visa/find_expression.h"

#include <utility>

namespace kalivor::visa {

namespace {

enum class Op : unsigned char { Atom, Empty, Concat, Alt, Star, Plus };

struct Token {
  Op op;
  int set = -1;
};

// Both cases of every letter, so the input never needs folding.
void foldCase(std::bitset<256>& set) {
  for (int c = 'a'; c <= 'z'; ++c) {
    const int upper = c - 'a' + 'A';
    if (set[c] || set[upper]) {
      set[c] = true;
      set[upper] = true;
    }
  }
}

class Parser {
 public:
  Parser(std::string_view expr, std::vector<std::bitset<256>>& sets) : expr_(expr), sets_(sets) {}

  // Turns the expression into postfix with explicit concatenation (the paren stack replaces
  // recursion). False for an invalid expression.
  bool toPostfix(std::vector<Token>& out) {
    struct Level {
      int alternatives;
      int atoms;
    };
    std::vector<Level> levels;
    int alternatives = 0;
    int atoms = 0;
    auto closeAlternative = [&] {
      if (atoms == 0) {
        out.push_back({Op::Empty});
        atoms = 1;
      }
      while (--atoms > 0) out.push_back({Op::Concat});
    };
    auto closeLevel = [&] {
      closeAlternative();
      for (; alternatives > 0; --alternatives) out.push_back({Op::Alt});
    };
    auto atom = [&](int set) {
      if (atoms > 1) {
        --atoms;
        out.push_back({Op::Concat});
      }
      out.push_back({Op::Atom, set});
      ++atoms;
    };

    while (pos_ < expr_.size()) {
      const char c = expr_[pos_];
      switch (c) {
        case '(':
          ++pos_;
          if (atoms > 1) {
            --atoms;
            out.push_back({Op::Concat});
          }
          levels.push_back({alternatives, atoms});
          alternatives = 0;
          atoms = 0;
          break;
        case '|':
          ++pos_;
          closeAlternative();
          ++alternatives;
          atoms = 0;
          break;
        case ')':
          ++pos_;
          if (levels.empty()) return false;
          closeLevel();
          alternatives = levels.back().alternatives;
          atoms = levels.back().atoms + 1;
          levels.pop_back();
          break;
        case '*':
        case '+':
          ++pos_;
          if (atoms == 0) return false;  // nothing to repeat
          out.push_back({c == '*' ? Op::Star : Op::Plus});
          break;
        case '?': {
          ++pos_;
          std::bitset<256> any;
          any.set();
          atom(addSet(any));
          break;
        }
        case '[': {
          ++pos_;
          const int set = parseSet();
          if (set < 0) return false;
          atom(set);
          break;
        }
        default: {
          int ch = 0;
          if (!literal(ch)) return false;
          std::bitset<256> one;
          one[static_cast<std::size_t>(ch)] = true;
          foldCase(one);
          atom(addSet(one));
        }
      }
    }
    if (!levels.empty()) return false;
    closeLevel();
    return true;
  }

 private:
  // One character at pos_, `\` taking the next one literally.
  bool literal(int& ch) {
    if (expr_[pos_] == '\\') {
      if (pos_ + 1 >= expr_.size()) return false;
      ++pos_;
    }
    ch = static_cast<unsigned char>(expr_[pos_++]);
    return true;
  }

  // After `[`: `^` negates; a `]` right at the start is a member; `a-z` is a range; `-` first or
  // last is a member.
  int parseSet() {
    std::bitset<256> set;
    bool negate = false;
    if (pos_ < expr_.size() && expr_[pos_] == '^') {
      negate = true;
      ++pos_;
    }
    bool first = true;
    for (;;) {
      if (pos_ >= expr_.size()) return -1;
      if (expr_[pos_] == ']' && !first) {
        ++pos_;
        break;
      }
      first = false;
      int lo = 0;
      if (!literal(lo)) return -1;
      int hi = lo;
      if (pos_ + 1 < expr_.size() && expr_[pos_] == '-' && expr_[pos_ + 1] != ']') {
        ++pos_;
        if (!literal(hi)) return -1;
        if (hi < lo) return -1;
      }
      for (int ch = lo; ch <= hi; ++ch) set[static_cast<std::size_t>(ch)] = true;
    }
    foldCase(set);
    if (negate) set.flip();
    return addSet(set);
  }

  int addSet(const std::bitset<256>& set) {
    // Runs of literals often repeat the same set; reusing the last one keeps long expressions small.
    if (!sets_.empty() && sets_.back() == set) return static_cast<int>(sets_.size()) - 1;
    sets_.push_back(set);
    return static_cast<int>(sets_.size()) - 1;
  }

  std::string_view expr_;
  std::vector<std::bitset<256>>& sets_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<FindExpression> FindExpression::compile(std::string_view expr) {
  if (expr.size() > kMaxLength) return std::nullopt;
  FindExpression fe;
  std::vector<Token> postfix;
  postfix.reserve(expr.size() * 2 + 1);
  if (!Parser(expr, fe.sets_).toPostfix(postfix)) return std::nullopt;

  // Thompson construction. A fragment's dangling exits form a list threaded through the exit
  // fields themselves (slot = state * 2 + branch), so joining two lists costs O(1).
  struct Fragment {
    int start;
    int head;
    int tail;
  };
  auto& states = fe.states_;
  states.reserve(postfix.size() + 1);
  auto slotRef = [&states](int slot) -> int& {
    State& s = states[static_cast<std::size_t>(slot / 2)];
    return slot % 2 == 0 ? s.out : s.out1;
  };
  auto newState = [&states](Kind kind, int set, int out, int out1) {
    states.push_back({kind, set, out, out1});
    return static_cast<int>(states.size()) - 1;
  };
  auto patch = [&](int head, int target) {
    while (head >= 0) {
      int& ref = slotRef(head);
      head = ref;
      ref = target;
    }
  };
  auto join = [&](const Fragment& a, const Fragment& b) {
    slotRef(a.tail) = b.head;
    return std::pair{a.head, b.tail};
  };

  std::vector<Fragment> stack;
  for (const Token& t : postfix) {
    switch (t.op) {
      case Op::Atom:
      case Op::Empty: {
        const int s = newState(t.op == Op::Atom ? Kind::Set : Kind::Empty, t.set, -1, -1);
        stack.push_back({s, s * 2, s * 2});
        break;
      }
      case Op::Concat: {
        const Fragment b = stack.back();
        stack.pop_back();
        Fragment& a = stack.back();
        patch(a.head, b.start);
        a.head = b.head;
        a.tail = b.tail;
        break;
      }
      case Op::Alt: {
        const Fragment b = stack.back();
        stack.pop_back();
        Fragment& a = stack.back();
        const int s = newState(Kind::Split, -1, a.start, b.start);
        const auto [head, tail] = join(a, b);
        a = {s, head, tail};
        break;
      }
      case Op::Star:
      case Op::Plus: {
        Fragment& a = stack.back();
        const int s = newState(Kind::Split, -1, a.start, -1);
        patch(a.head, s);
        a = {t.op == Op::Star ? s : a.start, s * 2 + 1, s * 2 + 1};
        break;
      }
    }
  }
  // The parser leaves exactly one fragment for a valid expression.
  if (stack.size() != 1) return std::nullopt;
  const int match = newState(Kind::Match, -1, -1, -1);
  patch(stack.back().head, match);
  fe.start_ = stack.back().start;
  return fe;
}

bool FindExpression::matches(std::string_view resource) const {
  if (start_ < 0) return false;
  std::vector<int> current;
  std::vector<int> next;
  std::vector<std::size_t> mark(states_.size(), 0);
  std::vector<int> pending;
  std::size_t generation = 0;
  bool matched = false;

  // Follows empty transitions without recursion; a state enters a list once per step, which also
  // cuts loops such as `(a*)*`.
  auto addClosure = [&](int from, std::vector<int>& list) {
    pending.push_back(from);
    while (!pending.empty()) {
      const int s = pending.back();
      pending.pop_back();
      if (s < 0 || mark[static_cast<std::size_t>(s)] == generation) continue;
      mark[static_cast<std::size_t>(s)] = generation;
      const State& st = states_[static_cast<std::size_t>(s)];
      switch (st.kind) {
        case Kind::Split:
          pending.push_back(st.out1);
          pending.push_back(st.out);
          break;
        case Kind::Empty:
          pending.push_back(st.out);
          break;
        case Kind::Set:
        case Kind::Match:
          list.push_back(s);
          break;
      }
    }
  };

  ++generation;
  addClosure(start_, current);
  for (const char ch : resource) {
    if (current.empty()) return false;
    const auto byte = static_cast<unsigned char>(ch);
    ++generation;
    next.clear();
    for (const int s : current) {
      const State& st = states_[static_cast<std::size_t>(s)];
      if (st.kind == Kind::Set && sets_[static_cast<std::size_t>(st.set)][byte]) {
        addClosure(st.out, next);
      }
    }
    current.swap(next);
  }
  for (const int s : current) {
    if (states_[static_cast<std::size_t>(s)].kind == Kind::Match) matched = true;
  }
  return matched;
}

}  // namespace kalivor::visa
