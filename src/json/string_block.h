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
//
// A long block also has room for the number of bytes that escaping adds to
// its string when it is written (see escape_growth in json_write.cpp), so
// that sizing a large text need not read the string once more. A string's
// bytes never change once a value owns them; the parser, which sees every
// escape anyway, records the figure, and every other block says it is not
// known.
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

inline constexpr std::size_t kGrowthUnknown = ~std::size_t{0};
// The escape growth recorded for the string of an owned block, or
// kGrowthUnknown.
std::size_t recorded_escape_growth(const char* block) noexcept;
// Records it for the block, whose size word holds the string's size; a
// short block has no room and keeps nothing.
void record_escape_growth(char* block, std::size_t growth) noexcept;

}  // namespace host::json::detail
