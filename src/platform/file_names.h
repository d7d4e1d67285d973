// File names made from names users give (database names): a reversible mapping that keeps the
// result one plain name inside the folder it is joined to.
//
// "/", "\\", "%", NUL and the other control characters (0x01-0x1F, 0x7F) and a leading "." are
// written as "%XX" (two upper-case hex digits); every other byte stays as it is, so ordinary
// names ("Sales", "Stok 2024") keep their own text. The result never holds a separator, is never
// "." or "..", and never starts with "." (no hidden file, no clash with the temporaries the
// backup run names ".<stem>..."). An empty name gives an empty stem.
//
// Used for the local server engine's data and lock files and for the backup run's backup files,
// archives and their temporaries. Pure functions, thread-safe; nothing throws but bad_alloc.
#pragma once

#include <string>
#include <string_view>

namespace orv::platform {

std::string file_stem_of_name(std::string_view name);
// The inverse: "%XX" with two hex digits (either case) becomes that byte; anything else, a lone
// "%" included, stays. name_of_file_stem(file_stem_of_name(n)) == n for every n.
std::string name_of_file_stem(std::string_view stem);

}  // namespace orv::platform
