#include "tables/sql/query/param_markers.h"

#include "tables/sql/query/query_params.h"

namespace korvex {

namespace {

bool IsDelimiter(char c) { return c == '\n' || c == '\r' || c == ' ' || c == ')' || c == ',' || c == ';'; }

}  // namespace

std::string CreateParams(TKORVEXParams* list, std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (c == '\'' || c == '"') {
      // A quoted run, to the same quote character or the end.
      std::size_t close = text.find(c, i + 1);
      close = close == std::string_view::npos ? n : close + 1;
      out.append(text.substr(i, close - i));
      i = close;
      continue;
    }
    if (c == '[' || (c == '/' && i + 1 < n && text[i + 1] == '*')) {
      const std::string_view end = c == '[' ? "]" : "*/";
      std::size_t close = text.find(end, i + (c == '[' ? 1 : 2));
      close = close == std::string_view::npos ? n : close + end.size();
      out.append(text.substr(i, close - i));
      i = close;
      continue;
    }
    if (c != ':') {
      out.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 < n && text[i + 1] == ':') {
      out.push_back(':');
      i += 2;
      continue;
    }
    if (i + 1 >= n || IsDelimiter(text[i + 1])) {
      out.push_back(':');
      ++i;
      continue;
    }
    // A marker: the name runs to a delimiter outside quotes.
    std::size_t j = i + 1;
    char quote = 0;
    while (j < n) {
      const char d = text[j];
      if (quote) {
        if (d == quote) quote = 0;
      } else if (d == '\'' || d == '"') {
        quote = d;
      } else if (IsDelimiter(d)) {
        break;
      }
      ++j;
    }
    std::string name(text.substr(i + 1, j - i - 1));
    const char first = name[0];
    if ((first == '\'' || first == '"')) {
      name.erase(0, 1);
      if (!name.empty() && name.back() == first) name.pop_back();
    }
    if (list) list->CreateParam(db::ftUnknown, name, ptUnknown);
    out.push_back('?');
    i = j;
  }
  return out;
}

}  // namespace korvex
