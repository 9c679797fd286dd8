// The heap storage of a string too long to live inside its JsonValue: the
// size (a std::size_t), then the bytes. Internal to src/json.
//
// Blocks for long strings are recycled: each thread keeps the last one it
// freed and hands it out again for the next string that fits. A stream of
// large messages (a page's text, one frame after another) then decodes into
// memory that is already there; a fresh block that large would come straight
// from the system and fault in every page again, which under Wine costs about
// as much as decoding the text.
//
// Whether a block is long is decided by the string's size alone: a block
// made for kLongString bytes or more must hold a string of at least that
// many bytes when a value adopts it (the parser refits one that decoded to
// less), so that releasing it needs nothing but the block.
#pragma once

#include <cstddef>

namespace host::json::detail {

inline constexpr std::size_t kLongString = std::size_t{64} << 10;

// A block with room for `capacity` bytes after the size word. Throws
// std::bad_alloc like operator new.
char* new_string_block(std::size_t capacity);
// A block from new_string_block that no value owns, with the same capacity.
void delete_string_block(char* block, std::size_t capacity) noexcept;
// A block that a value owned, whose size word holds the string's size.
void release_string_block(char* block) noexcept;

}  // namespace host::json::detail
