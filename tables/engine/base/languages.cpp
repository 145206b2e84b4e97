#include "tables/engine/base/languages.h"

#include "platform/runtime/sysutils.h"

namespace korvex {
namespace {

struct LanguageEntry {
  const char* name;
  std::uint16_t primary;
  std::uint16_t sub;
};

constexpr LanguageEntry kLanguages[kLanguageCount] = {
    {"ANSI Standard", 0, 0},
    {"Afrikaans", 54, 1}, {"Albanian", 28, 1}, {"Arabic (Saudi Arabia)", 1, 1}, {"Arabic (Iraq)", 1, 2},
    {"Arabic (Egypt)", 1, 3}, {"Arabic (Libya)", 1, 4}, {"Arabic (Algeria)", 1, 5}, {"Arabic (Morocco)", 1, 6},
    {"Arabic (Tunisia)", 1, 7}, {"Arabic (Oman)", 1, 8}, {"Arabic (Yemen)", 1, 9}, {"Arabic (Syria)", 1, 10},
    {"Arabic (Jordan)", 1, 11}, {"Arabic (Lebanon)", 1, 12}, {"Arabic (Kuwait)", 1, 13}, {"Arabic (U.A.E)", 1, 14},
    {"Arabic (Bahrain)", 1, 15}, {"Arabic (Qatar)", 1, 16}, {"Basque", 45, 1}, {"Belarusian", 35, 1},
    {"Bulgarian", 2, 1}, {"Catalan", 3, 1}, {"Croatian", 26, 1}, {"Czech", 5, 1}, {"Danish", 6, 1},
    {"Dutch (Standard)", 19, 1}, {"Dutch (Belgian)", 19, 2}, {"English (USA)", 9, 1}, {"English (UK)", 9, 2},
    {"English (Australian)", 9, 3}, {"English (Canadian)", 9, 4}, {"English (New Zealand)", 9, 5},
    {"English (Irish)", 9, 6}, {"English (South Africa)", 9, 7}, {"English (Jamaica)", 9, 8},
    {"English (Caribbean)", 9, 9}, {"English (Belize)", 9, 10}, {"English (Trinidad)", 9, 11}, {"Estonian", 37, 1},
    {"Faeroese", 56, 1}, {"Farsi", 41, 1}, {"Finnish", 11, 1}, {"French (Standard)", 12, 1},
    {"French (Belgian)", 12, 2}, {"French (Canadian)", 12, 3}, {"French (Swiss)", 12, 4},
    {"French (Luxembourg)", 12, 5}, {"German (Standard)", 7, 1}, {"German (Swiss)", 7, 2},
    {"German (Austrian)", 7, 3}, {"German (Luxembourg)", 7, 4}, {"German (Liechtenstein)", 7, 5}, {"Greek", 8, 1},
    {"Hebrew", 13, 1}, {"Hungarian", 14, 1}, {"Icelandic", 15, 1}, {"Indonesian", 33, 1},
    {"Italian (Standard)", 16, 1}, {"Italian (Swiss)", 16, 2}, {"Latvian", 38, 1}, {"Lithuanian", 39, 1},
    {"Norwegian (Bokmal)", 20, 1}, {"Norwegian (Nynorsk)", 20, 2}, {"Polish", 21, 1},
    {"Portuguese (Standard)", 22, 2}, {"Portuguese (Brazilian)", 22, 1}, {"Romanian", 24, 1}, {"Russian", 25, 1},
    {"Serbian (Latin)", 26, 2}, {"Serbian (Cyrillic)", 26, 3}, {"Slovak", 27, 1}, {"Slovenian", 36, 1},
    {"Spanish (Castilian)", 10, 1}, {"Spanish (Mexican)", 10, 2}, {"Spanish (Modern)", 10, 3},
    {"Spanish (Guatemala)", 10, 4}, {"Spanish (Costa Rica)", 10, 5}, {"Spanish (Panama)", 10, 6},
    {"Spanish (Dominican Republic)", 10, 7}, {"Spanish (Venezuela)", 10, 8}, {"Spanish (Colombia)", 10, 9},
    {"Spanish (Peru)", 10, 10}, {"Spanish (Argentina)", 10, 11}, {"Spanish (Ecuador)", 10, 12},
    {"Spanish (Chile)", 10, 13}, {"Spanish (Uruguay)", 10, 14}, {"Spanish (Paraguay)", 10, 15},
    {"Spanish (Bolivia)", 10, 16}, {"Spanish (El Salvador)", 10, 17}, {"Spanish (Honduras)", 10, 18},
    {"Spanish (Nicaragua)", 10, 19}, {"Spanish (Puerto Rico)", 10, 20}, {"Swedish (Standard)", 29, 1},
    {"Swedish (Finland)", 29, 2}, {"Thai", 30, 1}, {"Turkish", 31, 1}, {"Ukranian", 34, 1}, {"Vietnamese", 42, 1},
};

constexpr int kFirstGerman = 48;
constexpr int kLastGerman = 52;
constexpr const char* kDefaultOrder = "Default Order";
constexpr const char* kGermanPhoneBookOrder = "German Phone Book Order";

int FindLanguage(std::string_view name) {
  for (int i = 0; i < kLanguageCount; ++i)
    if (rtl::AnsiSameText(kLanguages[i].name, name)) return i;
  return -1;
}

}  // namespace

std::string_view GetLanguageNameFromIndex(int index) { return kLanguages[index].name; }

std::uint16_t GetLanguageIDFromIndex(int index) {
  return MakeLanguageID(kLanguages[index].primary, kLanguages[index].sub);
}

int GetIndexFromLanguageID(std::uint16_t id) {
  for (int i = 0; i < kLanguageCount; ++i)
    if (GetLanguageIDFromIndex(i) == id) return i;
  return -1;
}

bool IsValidLanguageConstant(std::string_view name) { return FindLanguage(name) >= 0; }

std::uint16_t ConvertLanguageConstantToID(std::string_view name) {
  int index = FindLanguage(name);
  return index < 0 ? 0 : GetLanguageIDFromIndex(index);
}

std::vector<std::string> GetSortIDs(int language_index) {
  std::vector<std::string> names{kDefaultOrder};
  if (language_index >= kFirstGerman && language_index <= kLastGerman) names.emplace_back(kGermanPhoneBookOrder);
  return names;
}

bool IsValidSortConstant(std::uint16_t language_id, std::string_view name) {
  for (const std::string& sort : GetSortIDs(GetIndexFromLanguageID(language_id)))
    if (rtl::AnsiSameText(sort, name)) return true;
  return false;
}

std::uint16_t ConvertSortConstantToID(std::uint16_t language_id, std::string_view name) {
  std::vector<std::string> sorts = GetSortIDs(GetIndexFromLanguageID(language_id));
  for (std::size_t i = 0; i < sorts.size(); ++i)
    if (rtl::AnsiSameText(sorts[i], name)) return static_cast<std::uint16_t>(i);
  return 0;
}

namespace {
bool IsGerman(int language_index) { return language_index >= kFirstGerman && language_index <= kLastGerman; }
}  // namespace

std::uint16_t GetSortIDFromIndex(int language_index, int sort_index) {
  return IsGerman(language_index) && sort_index == 1 ? 1 : 0;
}

int GetIndexFromSortID(int language_index, std::uint16_t sort_id) {
  if (sort_id == 0) return 0;
  return IsGerman(language_index) && sort_id == 1 ? 1 : -1;
}

std::string GetSortIDStringFromIndex(int language_index, int sort_index) {
  if (sort_index == 0 || !IsGerman(language_index)) return "SRT_DEFAULT";
  return sort_index == 1 ? "SRT_GERMAN_PHONE_BOOK" : "";
}

}  // namespace korvex
