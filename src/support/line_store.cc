#include "support/line_store.h"

#include <algorithm>
#include <limits>
#include <new>

namespace lowtags {

std::int32_t name_lst_dup_check = 1;
NameCursor name_cursor = {0, 0};

namespace {

// Throws std::bad_alloc like any allocation; callers turn that into -1.
std::unique_ptr<char[]> CopyOf(std::string_view s) {
  auto copy = std::make_unique_for_overwrite<char[]>(s.size() + 1);
  std::copy_n(s.data(), s.size(), copy.get());
  copy[s.size()] = '\0';
  return copy;
}

void Store(name_lst& node, std::string_view s) {
  node.name = CopyOf(s);
  node.length = static_cast<std::uint32_t>(s.size());
}

bool Holds(const name_lst& node, std::string_view s) {
  return node.name != nullptr && std::string_view(node.name.get(), node.length) == s;
}

// Appends a new node holding s after last; returns it.
name_lst* Append(name_lst& last, std::string_view s) {
  auto node = std::make_unique<name_lst>();
  Store(*node, s);
  last.next = std::move(node);
  return last.next.get();
}

void FreeChain(std::unique_ptr<name_lst> node) {
  while (node) {
    freemem(node->name);
    node = std::move(node->next);  // the old node goes only after its successor is taken
  }
}

}  // namespace

name_lst::name_lst(name_lst&& other) noexcept
    : name(std::move(other.name)),
      length(other.length),
      value(other.value),
      next(std::move(other.next)) {
  other.ForgetMemos();
}

name_lst& name_lst::operator=(name_lst&& other) noexcept {
  if (this != &other) {
    FreeChain(std::move(next));
    name = std::move(other.name);
    length = other.length;
    value = other.value;
    next = std::move(other.next);
    ForgetMemos();
    other.ForgetMemos();
  }
  return *this;
}

name_lst::~name_lst() { FreeChain(std::move(next)); }

void name_lst::ForgetMemos() {
  tail_ = nullptr;
  walk_node_ = nullptr;
  walk_index_ = 0;
}

void name_init(name_lst& head) {
  freemem(head.name);
  head.length = 0;
  FreeChain(std::move(head.next));
  head.ForgetMemos();
}

int add_name(name_lst& head, std::string_view s) {
  s = s.substr(0, s.find('\0'));
  if (s.size() >= std::numeric_limits<std::uint32_t>::max()) {
    return -1;
  }
  head.walk_node_ = nullptr;  // filling a slot would shift the indices after it
  try {
    // Without the duplicate test only the end of the chain matters, and the memo knows it.
    if (name_lst_dup_check == 0 && head.tail_ != nullptr && head.tail_->next == nullptr) {
      head.tail_ = Append(*head.tail_, s);
      return 0;
    }
    name_lst* slot = nullptr;
    int empty_slots = 0;
    name_lst* last = &head;
    for (name_lst* node = &head; node != nullptr; node = node->next.get()) {
      if (node->name == nullptr) {
        ++empty_slots;
        slot = slot != nullptr ? slot : node;
      } else if (name_lst_dup_check != 0 && Holds(*node, s)) {
        return 0;
      }
      last = node;
    }
    if (slot != nullptr) {
      Store(*slot, s);
      head.tail_ = empty_slots == 1 ? last : nullptr;
    } else {
      head.tail_ = Append(*last, s);
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

std::optional<std::string_view> get_name(name_lst& head, int mode) {
  if (mode == 0) {
    name_cursor = {0, 1};
  } else if (mode == -1) {
    int nodes = 0;
    for (const name_lst* node = &head; node != nullptr; node = node->next.get()) {
      ++nodes;
    }
    name_cursor = {nodes - 1, -1};
  }
  const int want = name_cursor.position;
  if (want < 0) {
    return std::nullopt;
  }
  // A forward walk resumes where the last call stopped instead of counting from the head again.
  name_lst* node = &head;
  int index = 0;
  if (head.walk_node_ != nullptr && head.walk_index_ <= want) {
    node = head.walk_node_;
    index = head.walk_index_;
  }
  for (; node != nullptr; node = node->next.get()) {
    if (node->name == nullptr) {
      continue;
    }
    if (index == want) {
      head.walk_node_ = node;
      head.walk_index_ = index;
      name_cursor.position += name_cursor.step;
      return std::string_view(node->name.get(), node->length);
    }
    ++index;
  }
  return std::nullopt;
}

void del_allname(name_lst& head) {
  FreeChain(std::move(head.next));
  freemem(head.name);
  head.length = 0;
  head.ForgetMemos();
}

void freemem(std::unique_ptr<char[]>& block) { block.reset(); }

}  // namespace lowtags
