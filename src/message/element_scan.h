// A byte search that tells when a text cannot hold an element of a given name, without parsing
// it: it spares a catalogue of tens of megabytes a parse whose answer is known.
#ifndef QX_MESSAGE_ELEMENT_SCAN_H_
#define QX_MESSAGE_ELEMENT_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qx::message {

// False when `text` (ANSI bytes) cannot hold an element named `name` (ASCII), whatever the DOM
// would make of it: such an element needs the bytes '<' and `name` in a row (or ':' and
// `name`: the Windows DOM also finds "x:name" when asked for "name"), since the code page turns
// every ASCII byte into that character and no other byte into '<', ':' or a letter. True
// when it may (also for a name with a byte outside ASCII, or of fewer than two bytes): only
// parsing tells. Lets a reader skip a parse whose answer is known, which costs a parse of the
// whole reply for nothing when a catalogue of tens of megabytes asks for no card work and names
// no further function.
bool MayHoldElement(std::string_view text, std::string_view name);

// The same for up to kMaxNamesPerScan names in one pass over the text: bit k of the result
// answers for names[k].
inline constexpr std::size_t kMaxNamesPerScan = 8;
uint32_t MayHoldElements(std::string_view text, std::span<const std::string_view> names);

// MayHoldElements over a text that arrives in pieces, each searched while it is fresh: Feed
// after each piece with the text so far and the offset where the piece starts; seen() then
// answers as MayHoldElements(text, names) would. The names must outlive the object.
class ElementNamesScan {
 public:
  explicit ElementNamesScan(std::span<const std::string_view> names);
  void Feed(std::string_view text, std::size_t from);
  uint32_t seen() const { return seen_; }

 private:
  std::span<const std::string_view> names_;
  std::size_t longest_ = 0;
  uint32_t all_ = 0;
  uint32_t seen_ = 0;
};

}  // namespace qx::message

#endif  // QX_MESSAGE_ELEMENT_SCAN_H_
