#pragma once
// TextReplacer: replaces every occurrence of a set of texts in one left-to-right pass. Where
// occurrences overlap, the one that starts first wins, and of those starting at one place the
// longest; the replacements are not searched again. The pass takes time linear in the length of
// the text plus that of the texts searched for, however many there are (the notes page of a
// lecture may name tens of thousands of images).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TextReplacer {
 public:
  // Adds `from` -> `to`. An empty `from` is ignored; a `from` added before keeps its first `to`.
  void add(const std::string& from, std::string to);
  bool empty() const { return from_.empty(); }

  // `text` with the replacements made.
  std::string apply(std::string_view text);

 private:
  // Nodes of the trie; a node's children are a chain of siblings, so building needs no
  // allocation per node.
  struct Node {
    std::int32_t fail = 0;
    // The longest text searched for that this node's path ends with, or -1.
    std::int32_t longest = -1;
    std::int32_t firstChild = -1;
    std::int32_t nextSibling = -1;
    unsigned char label = 0;
  };

  void build();
  std::int32_t child(std::int32_t node, unsigned char byte) const;

  std::vector<std::string> from_;
  std::vector<std::string> to_;
  std::unordered_map<std::string, std::size_t> index_;
  // The automaton over the searched texts read backwards, built on first use after an add. Most
  // bytes of a page leave the root at once, so the root's moves are a table of their own.
  std::vector<Node> nodes_;
  std::array<std::int32_t, 256> rootMoves_{};
  bool built_ = false;
};
