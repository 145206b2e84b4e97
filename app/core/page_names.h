// Names of new pages: "New page" and "Copy to new page"; a page's name
// that no longer ends like a register's.
//
// A page's caption is the name it is first saved under, so it must be a
// usable file name: "Copy to new page" without a selection names the page
// after the first search term, and a term can be empty, hold '/' or '*', or
// begin with '.', which would make a hidden file.
#pragma once

#include <string>
#include <string_view>

namespace appcore {

// "NewPage" + number, with a leading '0' below 10, + ".txt": "NewPage01.txt".
std::string NewPageName(int number);

// term trimmed, with '*', '?', '/', '\' and control characters made '_',
// leading dots and blanks dropped, cut to kMaxTermNameLength characters,
// + ".txt"; "" when no letter or digit is left.
inline constexpr size_t kMaxTermNameLength = 80;
std::string PageNameFromTerm(std::string_view term);

// The caption of "Copy to new page" without a selection: the name from the
// term, or else the next numbered page name (page_counter counts up, as
// "New page" counts).
std::string CopyPageName(std::string_view term, int& page_counter);

// name with the '_' of its register ending made '-'
// ("HS-holytrinity_bap.txt" gives "HS-holytrinity-bap.txt"): a page saved
// under it is no register. Other names are given back as they are.
std::string NonRegisterName(std::string_view name);

}  // namespace appcore
