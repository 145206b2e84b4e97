#include "tables/engine/table/data_session.h"

#include <algorithm>
#include <cstdlib>

#include "platform/runtime/filelock.h"
#include "platform/runtime/files.h"
#include "platform/runtime/os_process.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/base/languages.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/swap_record.h"
#include "tables/engine/table/work_claim.h"
#include "tables/lib/names.h"
#include "tables/lib/support.h"

namespace korvex {
namespace {

constexpr int kInvalidName = -static_cast<int>(err::kInvalidFileName);
constexpr int kInUse = -static_cast<int>(err::kAccessDenied);

bool IsMemoryName(const std::string& name) { return rtl::SameText(rtl::Trim(name), "MEMORY"); }

std::string Canonical(const std::string& path) {
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    std::string result(real);
    std::free(real);
    return result;
  }
  return path;
}

// A refusal because the files are in use (here or by another process)
// becomes the answer -11013; other failures are raised.
template <class Body>
int InUseAnswer(Body body) {
  try {
    body();
  } catch (const EKORVEXEngineError& e) {
    if (e.ErrorCode() != err::kAccessDenied) throw;
    return kInUse;
  }
  return 0;
}

struct EngineState {
  bool initialized = false;
  TDataSession* current = nullptr;
};
EngineState& Engine() {
  static EngineState state;
  return state;
}

}  // namespace

// ---- session ---------------------------------------------------------------

TDataSession::TDataSession()
    : LanguageID(DefaultLanguageID()), default_directory_(AddBS(rtl::Trim(rtl::GetCurrentDir()))) {
  // Work files a killed process left where this session will work.
  RemoveDeadWorkFiles(default_directory_);
}

TDataSession::~TDataSession() { FreeDataDirectories(); }

std::string TDataSession::GetPrivateDirectory() const {
  return private_directory_.empty() ? default_directory_ : private_directory_;
}

void TDataSession::SetPrivateDirectory(const std::string& path) {
  if (rtl::Trim(path).empty()) return;
  const std::string folder = AddBS(rtl::Trim(path));
  if (folder == GetPrivateDirectory()) return;
  private_directory_ = folder;
  RemoveDeadWorkFiles(private_directory_);
}

void TDataSession::AddPassword(const std::string& password) {
  if (password.empty() || CheckForPassword(password)) return;
  passwords_.push_back(password);
}

void TDataSession::DeletePassword(const std::string& password) {
  auto it = std::find(passwords_.begin(), passwords_.end(), password);
  if (it != passwords_.end()) passwords_.erase(it);
}

bool TDataSession::CheckForPassword(const std::string& password) const {
  return std::find(passwords_.begin(), passwords_.end(), password) != passwords_.end();
}

TDataDirectory* TDataSession::OpenDataDirectory(const std::string& name, const std::string& path) {
  std::string dir;
  if (!IsMemoryName(name)) {
    dir = rtl::Trim(path).empty() ? default_directory_ : AddBS(rtl::Trim(path));
    dir = AddBS(Canonical(dir));
  }
  for (auto& d : directories_) {
    if (d->Path() == dir) {
      d->IncUseCount();
      return d.get();
    }
  }
  // Swaps a killed process left half-way are put right before any table
  // here is looked at.
  if (!dir.empty()) RecoverFolderSwaps(dir);
  directories_.push_back(std::make_unique<TDataDirectory>(this, name, dir));
  return directories_.back().get();
}

int TDataSession::CloseDataDirectory(TDataDirectory* directory) {
  auto it = std::find_if(directories_.begin(), directories_.end(), [&](auto& d) { return d.get() == directory; });
  if (it == directories_.end() || directory->UseCount() == 0) return kInUse;
  directory->DecUseCount();
  if (directory->UseCount() == 0) directories_.erase(it);
  return 0;
}

void TDataSession::FreeDataDirectories() {
  while (!directories_.empty()) directories_.pop_back();
}

// ---- directory -------------------------------------------------------------

TDataDirectory::TDataDirectory(TDataSession* session, std::string name, std::string path)
    : session_(session), name_(std::move(name)), path_(std::move(path)) {}

TDataDirectory::~TDataDirectory() {
  try {
    RollbackTransaction();
  } catch (...) {
  }
  FreeDataTables();
}

void TDataDirectory::FreeDataTables() {
  while (!tables_.empty()) tables_.pop_back();
}

std::string TDataDirectory::TableFileName(const std::string& name) const {
  std::string dat = EnsureFileExt(name, ".DAT");
  std::string full = ContainsDirectory(dat) && dat.find('/') != std::string::npos ? dat : path_ + dat;
  std::string found = rtl::FindFileIgnoringCase(full);
  return found.empty() ? full : found;
}

TDataTable* TDataDirectory::Find(const std::string& name, bool in_memory) const {
  std::string key = in_memory || IsMemory() ? rtl::UpperCase(EnsureFileExt(name, ".DAT"))
                                            : Canonical(TableFileName(name));
  for (auto& t : tables_)
    if (t->InMemory() == in_memory && t->FileKey() == key) return t.get();
  return nullptr;
}

void TDataDirectory::Remove(TDataTable* table) {
  auto it = std::find_if(tables_.begin(), tables_.end(), [&](auto& t) { return t.get() == table; });
  if (it != tables_.end()) tables_.erase(it);
}

void TDataDirectory::ListTableNames(std::vector<std::string>& list) const {
  list.clear();
  ListFiles(list, IsMemory() ? std::string("*.DAT") : path_ + "*.DAT", IsMemory());
}

int TDataDirectory::OpenDataTable(const std::string& name, TDataTable*& table, const TOpenTableRequest& request) {
  table = nullptr;
  if (rtl::Trim(name).empty()) return kInvalidName;
  bool in_memory = request.InMemory || IsMemory();
  TDataTable* found = Find(name, in_memory);
  if (found != nullptr && found->UseCount() > 0) {
    if ((found->Exclusive() || request.Exclusive) && !request.OverrideExclusive) return kInUse;
    found->IncUseCount();
    table = found;
    return 0;
  }
  auto configure = [&](TDataTable& t) {
    t.SetInMemory(in_memory);
    t.SetIsTemporary(request.Temporary);
    t.SetIsResultSet(request.ResultSet);
    t.SetIsSourceTable(request.SourceTable);
  };
  auto open = [&](TDataTable& t) {
    t.OpenTable();
    if (!in_transaction_) return;
    try {
      t.StartTransaction();
    } catch (...) {
      t.CloseTable();
      throw;
    }
  };
  if (found != nullptr) {
    // Kept open by the transaction: its files stay open in the mode they
    // have, so an exclusive request cannot be met.
    if (found->IsOpen() && request.Exclusive && !found->Exclusive()) return kInUse;
    if (!found->IsOpen()) found->SetExclusive(request.Exclusive);
    configure(*found);
    int answer = InUseAnswer([&] { open(*found); });
    if (answer == 0) table = found;
    return answer;
  }
  auto created = std::make_unique<TDataTable>(this);
  created->SetTableName(rtl::Trim(name));
  created->SetExclusive(request.Exclusive);
  configure(*created);
  int answer = InUseAnswer([&] { open(*created); });
  if (answer != 0) return answer;
  table = created.get();
  tables_.push_back(std::move(created));
  return 0;
}

int TDataDirectory::CreateDataTable(const std::string& name, const TDataFileSettings& settings,
                                    const std::vector<TFieldDefinition>& fields, bool in_memory, bool temporary,
                                    TDataTable*& table) {
  table = nullptr;
  if (rtl::Trim(name).empty()) return kInvalidName;
  in_memory = in_memory || IsMemory();
  if (TDataTable* found = Find(name, in_memory)) {
    if (found->UseCount() > 0) return kInUse;
    Remove(found);
  }
  auto created = std::make_unique<TDataTable>(this);
  created->SetTableName(rtl::Trim(name));
  created->SetExclusive(true);
  created->SetInMemory(in_memory);
  created->SetIsTemporary(temporary);
  int answer = InUseAnswer([&] { created->CreateTable(settings, fields); });
  if (answer != 0) return answer;
  table = created.get();
  tables_.push_back(std::move(created));
  return 0;
}

int TDataDirectory::CloseDataTable(TDataTable* table, bool discard_temporary) {
  auto it = std::find_if(tables_.begin(), tables_.end(), [&](auto& t) { return t.get() == table; });
  if (it == tables_.end()) return kInvalidName;
  auto forget = [&] {
    if (table->UseCount() == 0 && !table->GetTransactionInProgress()) Remove(table);
  };
  try {
    if (table->UseCount() > 0) table->CloseTable(discard_temporary);
  } catch (...) {
    forget();
    throw;
  }
  forget();
  return 0;
}

int TDataDirectory::OnUnusedTable(const std::string& name, bool in_memory,
                                  const std::function<void(TDataTable&)>& operation) {
  in_memory = in_memory || IsMemory();
  TDataTable* found = Find(name, in_memory);
  if (found != nullptr && (found->UseCount() > 0 || found->IsOpen())) return kInUse;
  TDataTable scratch(this);
  scratch.SetTableName(rtl::Trim(name));
  scratch.SetInMemory(in_memory);
  int answer = InUseAnswer([&] { operation(scratch); });
  if (answer == 0 && found != nullptr) Remove(found);
  return answer;
}

int TDataDirectory::RenameDataTable(const std::string& old_name, const std::string& new_name, bool as_backup,
                                    bool in_memory) {
  if (rtl::Trim(old_name).empty() || rtl::Trim(new_name).empty()) return kInvalidName;
  return OnUnusedTable(old_name, in_memory, [&](TDataTable& t) { t.RenameTable(rtl::Trim(new_name), as_backup); });
}

int TDataDirectory::DeleteDataTable(const std::string& name, bool in_memory) {
  if (rtl::Trim(name).empty()) return kInvalidName;
  return OnUnusedTable(name, in_memory, [](TDataTable& t) { t.DeleteTable(); });
}

bool TDataDirectory::DataTableExists(const std::string& name, bool in_memory) const {
  in_memory = in_memory || IsMemory();
  if (Find(name, in_memory) != nullptr) return true;
  std::string file = in_memory ? EnsureFileExt(name, ".DAT") : TableFileName(name);
  return FileNameExists(file, in_memory);
}

std::string TDataDirectory::GetTempDataTableName(bool in_memory) const {
  std::string prefix = rtl::IntToStr(rtl::os::CurrentThreadId()).substr(0, 5);
  // Past the 16-bit counter the count goes on in 32 bits.
  for (std::uint32_t counter = 0;; ++counter) {
    std::string name = prefix + rtl::IntToStr(counter) + ".DAT";
    if (!DataTableExists(name, in_memory)) return name;
  }
}

void TDataDirectory::StartTransaction() {
  if (in_transaction_) return;
  std::size_t started = 0;
  try {
    for (; started < tables_.size(); ++started) tables_[started]->StartTransaction();
  } catch (...) {
    // All tables of the directory or none.
    for (std::size_t i = started; i-- > 0;) {
      try {
        tables_[i]->RollbackTransaction();
      } catch (...) {
      }
    }
    throw;
  }
  in_transaction_ = true;
}

void TDataDirectory::RollbackTransaction() {
  if (!in_transaction_) return;
  in_transaction_ = false;
  for (std::size_t i = tables_.size(); i-- > 0;) {
    TDataTable* t = tables_[i].get();
    t->RollbackTransaction();
    if (t->UseCount() == 0) {
      t->IncUseCount();
      CloseDataTable(t);
    }
  }
}

void TDataDirectory::CommitTransaction(bool final_commit, bool settle) {
  if (!in_transaction_) return;
  for (std::size_t i = tables_.size(); i-- > 0;) {
    TDataTable* t = tables_[i].get();
    t->CommitTransaction(final_commit, settle || final_commit);
    if (final_commit && t->UseCount() == 0) {
      t->IncUseCount();
      CloseDataTable(t);
    }
  }
  if (final_commit) in_transaction_ = false;
}

// ---- engine ----------------------------------------------------------------

void InitializeKORVEX() {
  EngineState& engine = Engine();
  if (engine.initialized) return;
  InitializeSupportFunctions();
  engine.current = new TDataSession();
  engine.initialized = true;
}

void ExitKORVEX() {
  EngineState& engine = Engine();
  if (!engine.initialized) return;
  delete engine.current;
  engine.current = nullptr;
  ExitSupportFunctions();
  engine.initialized = false;
}

bool KORVEXInitialized() { return Engine().initialized; }

TDataSession* GetCurrentDataSession() {
  if (!Engine().initialized) RaiseError(err::kNotInitialized);
  return Engine().current;
}

void SetCurrentDataSession(TDataSession* session) { Engine().current = session; }
void StartDataSession(TDataSession*& session) { session = new TDataSession(); }
void CloseDataSession(TDataSession* session) { delete session; }

// ---- language of the environment ----------------------------------------------

namespace {

struct LocaleLanguage {
  const char* code;
  std::uint16_t primary;
  // Territories in sub-language order from 1; "-" holds a place.
  const char* territories;
};

constexpr LocaleLanguage kLocaleLanguages[] = {
    {"af", 54, "ZA"}, {"sq", 28, "AL"}, {"ar", 1, "SA IQ EG LY DZ MA TN OM YE SY JO LB KW AE BH QA"},
    {"eu", 45, "ES"}, {"be", 35, "BY"}, {"bg", 2, "BG"}, {"ca", 3, "ES"}, {"hr", 26, "HR"},
    {"cs", 5, "CZ"}, {"da", 6, "DK"}, {"nl", 19, "NL BE"}, {"en", 9, "US GB AU CA NZ IE ZA JM - BZ TT"},
    {"et", 37, "EE"}, {"fo", 56, "FO"}, {"fa", 41, "IR"}, {"fi", 11, "FI"}, {"fr", 12, "FR BE CA CH LU"},
    {"de", 7, "DE CH AT LU LI"}, {"el", 8, "GR"}, {"he", 13, "IL"}, {"hu", 14, "HU"}, {"is", 15, "IS"},
    {"id", 33, "ID"}, {"it", 16, "IT CH"}, {"lv", 38, "LV"}, {"lt", 39, "LT"}, {"nb", 20, "NO"},
    {"no", 20, "NO"}, {"pl", 21, "PL"}, {"pt", 22, "BR PT"}, {"ro", 24, "RO"}, {"ru", 25, "RU"},
    {"sk", 27, "SK"}, {"sl", 36, "SI"},
    {"es", 10, "ES MX - GT CR PA DO VE CO PE AR EC CL UY PY BO SV HN NI PR"}, {"sv", 29, "SE FI"},
    {"th", 30, "TH"}, {"tr", 31, "TR"}, {"uk", 34, "UA"}, {"vi", 42, "VN"},
};

// The first list entry of a primary language.
std::uint16_t FirstOfPrimary(std::uint16_t primary) {
  for (int i = 1; i < kLanguageCount; ++i)
    if ((GetLanguageIDFromIndex(i) & 0x3FF) == primary) return GetLanguageIDFromIndex(i);
  return 0;
}

}  // namespace

std::uint16_t LanguageIDFromLocale(const std::string& locale) {
  std::string base = locale.substr(0, locale.find_first_of(".@"));
  std::string code = rtl::LowerCase(base.substr(0, base.find('_')));
  std::string territory = base.find('_') == std::string::npos ? "" : rtl::UpperCase(base.substr(base.find('_') + 1));
  bool latin = locale.find("@latin") != std::string::npos;
  if (code == "nn") return MakeLanguageID(20, 2);
  if (code == "sr") return MakeLanguageID(26, latin ? 2 : 3);
  for (const LocaleLanguage& l : kLocaleLanguages) {
    if (code != l.code) continue;
    std::string list = l.territories;
    int sub = 1;
    for (std::size_t at = 0; !territory.empty() && at < list.size(); ++sub) {
      std::size_t end = list.find(' ', at);
      if (end == std::string::npos) end = list.size();
      if (list.compare(at, end - at, territory) == 0) {
        std::uint16_t id = MakeLanguageID(l.primary, static_cast<std::uint16_t>(sub));
        if (GetIndexFromLanguageID(id) >= 0) return id;
      }
      at = end + 1;
    }
    return FirstOfPrimary(l.primary);
  }
  return 0;
}

std::uint16_t DefaultLanguageID() {
  for (const char* variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return LanguageIDFromLocale(value);
  }
  return 0;
}

}  // namespace korvex
