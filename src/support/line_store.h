// A singly linked list of copied strings in insertion order, walked with a program-wide cursor.
// Used to hold the converted lines of one file until they are written back.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace lowtags {

// The head of a chain and every node after it. The head is the caller's and holds the first entry
// itself; a node whose name is null is an empty slot and is passed over.
// Change a chain only through the functions below: the head remembers where the chain ends and
// where the last walk stood, and those memos trust that nobody else relinks it.
struct name_lst {
  std::unique_ptr<char[]> name;  // NUL-terminated copy, or null for an empty slot
  std::uint32_t length = 0;      // bytes of name before its NUL
  std::int32_t value = 0;        // carried along, never used by the list itself
  std::unique_ptr<name_lst> next;

  name_lst() = default;
  name_lst(const name_lst&) = delete;
  name_lst& operator=(const name_lst&) = delete;
  name_lst(name_lst&& other) noexcept;
  name_lst& operator=(name_lst&& other) noexcept;
  // Frees the chain node by node: a chain of unique_ptr destructors would recurse once per node.
  ~name_lst();

 private:
  friend void name_init(name_lst& head);
  friend int add_name(name_lst& head, std::string_view s);
  friend std::optional<std::string_view> get_name(name_lst& head, int mode);
  friend void del_allname(name_lst& head);
  void ForgetMemos();

  name_lst* tail_ = nullptr;       // last node while the chain is known to have no empty slot
  name_lst* walk_node_ = nullptr;  // node of the entry the last get_name returned
  int walk_index_ = 0;             // that entry's index
};

// While non-zero, add_name refuses a string equal to any entry of the chain. 1 at start.
extern std::int32_t name_lst_dup_check;

// One cursor for all lists: walks over two lists must not be interleaved.
struct NameCursor {
  int position;  // index of the entry the next get_name returns
  int step;      // +1 or -1
};
extern NameCursor name_cursor;

// Makes head an empty chain; whatever it held is released.
void name_init(name_lst& head);
// Stores a copy of s up to its first NUL. 0 when stored or refused as a duplicate, -1 when memory
// ran out (the chain is then as it was).
int add_name(name_lst& head, std::string_view s);
// Mode 0 starts a walk at the first entry, -1 at the end going backward, anything else goes on.
// nullopt at the end of the walk; the cursor then stays where it was.
std::optional<std::string_view> get_name(name_lst& head, int mode);
// Releases every node after head and every string; head's value is kept.
void del_allname(name_lst& head);
// Releases block; an empty one is ignored.
void freemem(std::unique_ptr<char[]>& block);

}  // namespace lowtags
