#include "download/TextReplacer.h"

void TextReplacer::add(const std::string& from, std::string to) {
  if (from.empty() || index_.count(from)) return;
  index_.emplace(from, from_.size());
  from_.push_back(from);
  to_.push_back(std::move(to));
  built_ = false;
}

std::int32_t TextReplacer::child(std::int32_t node, unsigned char byte) const {
  if (node == 0) return rootMoves_[byte];
  // At most 256 children, and rarely more than a few.
  for (std::int32_t next = nodes_[node].firstChild; next >= 0; next = nodes_[next].nextSibling)
    if (nodes_[next].label == byte) return next;
  return -1;
}

void TextReplacer::build() {
  // An Aho-Corasick automaton over the reversed texts: run from the end of a text towards its
  // start, the state at a position tells the longest searched text that starts there.
  std::size_t total = 1;
  for (const auto& from : from_) total += from.size();
  nodes_.clear();
  nodes_.reserve(total);
  nodes_.emplace_back();
  rootMoves_.fill(-1);
  for (std::size_t i = 0; i < from_.size(); ++i) {
    std::int32_t node = 0;
    for (auto it = from_[i].rbegin(); it != from_[i].rend(); ++it) {
      auto byte = static_cast<unsigned char>(*it);
      std::int32_t next = child(node, byte);
      if (next < 0) {
        next = static_cast<std::int32_t>(nodes_.size());
        Node created;
        created.label = byte;
        created.nextSibling = nodes_[node].firstChild;
        nodes_.push_back(created);
        nodes_[node].firstChild = next;
        if (node == 0) rootMoves_[byte] = next;
      }
      node = next;
    }
    nodes_[node].longest = static_cast<std::int32_t>(i);
  }
  // Breadth first, so a node's fail target is done before the node.
  std::vector<std::int32_t> pending;
  pending.reserve(nodes_.size());
  for (std::int32_t next = nodes_[0].firstChild; next >= 0; next = nodes_[next].nextSibling)
    pending.push_back(next);
  for (std::size_t head = 0; head < pending.size(); ++head) {
    std::int32_t node = pending[head];
    if (nodes_[node].longest < 0) nodes_[node].longest = nodes_[nodes_[node].fail].longest;
    for (std::int32_t next = nodes_[node].firstChild; next >= 0; next = nodes_[next].nextSibling) {
      unsigned char byte = nodes_[next].label;
      std::int32_t fallback = nodes_[node].fail;
      while (fallback != 0 && child(fallback, byte) < 0) fallback = nodes_[fallback].fail;
      std::int32_t target = child(fallback, byte);
      nodes_[next].fail = target >= 0 && target != next ? target : 0;
      pending.push_back(next);
    }
  }
  built_ = true;
}

std::string TextReplacer::apply(std::string_view text) {
  if (from_.empty()) return std::string(text);
  if (!built_) build();
  // Which searched text (the longest) starts at each position, or -1.
  std::vector<std::int32_t> startsHere(text.size(), -1);
  std::int32_t state = 0;
  for (std::size_t i = text.size(); i-- > 0;) {
    auto byte = static_cast<unsigned char>(text[i]);
    while (state != 0 && child(state, byte) < 0) state = nodes_[state].fail;
    std::int32_t next = child(state, byte);
    state = next < 0 ? 0 : next;
    startsHere[i] = nodes_[state].longest;
  }
  std::string result;
  result.reserve(text.size());
  std::size_t copiedUpTo = 0;
  for (std::size_t i = 0; i < text.size();) {
    std::int32_t found = startsHere[i];
    if (found < 0) {
      ++i;
      continue;
    }
    result.append(text.substr(copiedUpTo, i - copiedUpTo));
    result += to_[found];
    i += from_[found].size();
    copiedUpTo = i;
  }
  result.append(text.substr(copiedUpTo));
  return result;
}
