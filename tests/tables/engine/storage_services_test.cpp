// Every storage-library service the engine and the SQL layer call is
// declared in tables/lib (or, for strings and dates, in the runtime): the
// names are checked against the headers, so a rename shows up here first.
// The in-memory file's bytes are TMemoryFile::Buffer; sub-select queries
// come through TSubSelectQuery and TExpressionOwner (subselect.h).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

const char* kServices = R"(
Add AddBS Assign BuildNextFilterExpression CheckBinaryTypes CheckToken CheckTokenSymbol CloseFile
CompToCurr CompToFloat CompareBytes CompareStrings ContainsAggregates ContainsDirectory
ContainsFields ContainsNots ContainsOrs ConvertExpression ConvertStringToDateTime Copy
CopyExpressionTokens CopyFile CopyFromFile Create CreateFile CurrToComp DecryptBuffer Delete
DeleteFile EncryptBuffer EnsureFileExt EvaluateConstant EvaluateExpressionToken Exists
ExitSupportFunctions ExpressionAsString ExtractFileRoot FileNameExists FillTrail First FlipBuffer
FlipCompBits FlipFloatBits FlipIntegerBits FlipIntegerSign FlipSmallIntBits FlipWordBits Flush
FreeExpressionTokens Get GetCurPos GetDefaultLanguageSettings GetDuplicateCount GetLanguageCharMap
GetLanguageSettings GetNewExpTokenInstance GetNewRecordsBitmapInstance GetNextBitsSet
GetOperatorForAggregate GetPreviousBitsSet GetPreviousTotalBitsSet GetRight GetSize GetTempFileName
GetTrailingCount GetUNCDirectory InitializeSupportFunctions Insert IsAlpha IsBitSet IsUpperField
Last ListFiles LockFileHandler LockFileSection LockLanguageSettings LockRegion LowerString
MakeLanguageID MakeLocaleID MarkExpressionLiteral MaximumBCD MaximumFloat MaximumInteger
MaximumSmallInt MaximumWord MinimumBCD MinimumFloat MinimumInteger MinimumSmallInt MinimumWord
NextToken OpenFile ParseDataTypeExpression ParseExpression1 ParseExpression7 ParseExpression8
ParseQuery Read RenameFile ResizeBuffer ReturnExpTokenInstance ReturnRecordsBitmapInstance
RightTrimString SafeAlloc SafeFree Seek SetCapacity SetCount SetDataSize SetExpression
SetLanguageSettings SetNumOfBits Sort StrToBool StripNullComparisons TAbstractFile TExpNodeClass
TExpOperator TExpToken TExpressionParser TFileHandler TJoinType TMemoryFile TParseModifiers
TParseOptions TRecordsBitmap TSystemList TokenAsString UnlockFileHandler UnlockFileSection
UnlockLanguageSettings UpperString VerifyDataTypeToken VerifyExpression VerifyExpressionToken
VerifyWordBool VersionToStr Write enBINARY enCOMPARE enCONST enCONTINUE enEXTBINARY enFIELD enFUNC
enLIST enLISTELEM enNULL enTUPLE enUDF enUNARY eoAND eoAVG eoCOUNT eoEQ eoGE eoGT eoLE eoLT eoMAX
eoMIN eoNE eoNOT eoNOTDEFINED eoOR eoSUM jtFullOuter jtInner jtLeftOuter jtNone jtRightOuter
pmAllowAggregates pmAllowAllFields pmAllowExtPredicates pmAllowParameters pmAllowSubSelects
Buffer TSubSelectQuery TExpressionOwner
)";

TEST(StorageLibraryServices, EveryNameTheEngineCallsIsDeclared) {
  std::set<std::string> declared;
  const std::regex word("[A-Za-z_][A-Za-z0-9_]*");
  for (const char* folder : {"tables/lib", "platform/runtime"}) {
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(QV_SOURCE_DIR) / folder)) {
      if (entry.path().extension() != ".h") continue;
      std::ifstream in(entry.path());
      std::stringstream text;
      text << in.rdbuf();
      std::string s = text.str();
      for (std::sregex_iterator it(s.begin(), s.end(), word), end; it != end; ++it) declared.insert(it->str());
    }
  }
  std::istringstream names(kServices);
  std::string name;
  int checked = 0;
  while (names >> name) {
    EXPECT_TRUE(declared.count(name)) << name;
    ++checked;
  }
  EXPECT_GT(checked, 170);
}

}  // namespace
