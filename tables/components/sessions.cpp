#include "tables/components/sessions.h"

#include <algorithm>
#include <memory>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/sysutils.h"
#include "tables/components/datasets.h"
#include "tables/components/messages.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/names.h"
#include "tables/lib/text_values.h"

namespace korvex {

namespace {

struct Globals {
  std::unique_ptr<TKORVEXSessionList> list;
  TKORVEXSession* session = nullptr;
  std::function<bool(TKORVEXSession&)> password_hook;
};
Globals& G() {
  static Globals g;
  return g;
}

// Engine names are short strings: at most 255 characters.
std::string ShortString(const std::string& text) { return text.substr(0, 255); }

[[noreturn]] void Fail(const char* format, const std::string& argument = {}) {
  rtl::DatabaseErrorFmt(format, {argument});
}

}  // namespace

bool IsDatabasePath(const std::string& name) { return ContainsDirectory(name); }

TKORVEXSessionList& Sessions() {
  Globals& g = G();
  if (!g.list) {
    g.list = std::make_unique<TKORVEXSessionList>();
    g.session = new TKORVEXSession(nullptr);
    g.session->SetSessionName("Default");
  }
  return *g.list;
}

TKORVEXSession& Session() {
  Sessions();
  return *G().session;
}

void FinalizeSessions() {
  Globals& g = G();
  if (!g.list) return;
  g.list->CloseAll();  // the sessions still find the list while they go
  g.list.reset();
  g.session = nullptr;
}

void SetPasswordHook(std::function<bool(TKORVEXSession&)> hook) { G().password_hook = std::move(hook); }

std::string AutoSessionNameOf(const rtl::TComponent* owner) {
  if (owner == nullptr) return {};
  for (int i = 0; i < owner->ComponentCount(); ++i)
    if (auto* s = dynamic_cast<TKORVEXSession*>(owner->Components(i)); s && s->AutoSessionName())
      return s->SessionName();
  return {};
}

// ---- session list -----------------------------------------------------------

TKORVEXSessionList::~TKORVEXSessionList() { CloseAll(); }

std::vector<TKORVEXSession*> TKORVEXSessionList::Snapshot() {
  std::lock_guard<std::recursive_mutex> guard(list_lock_);
  return sessions_;
}

void TKORVEXSessionList::AddSession(TKORVEXSession* session) {
  std::lock_guard<std::recursive_mutex> guard(list_lock_);
  if (sessions_.empty()) session->default_ = true;
  sessions_.push_back(session);
}

void TKORVEXSessionList::RemoveSession(TKORVEXSession* session) {
  std::lock_guard<std::recursive_mutex> guard(list_lock_);
  auto it = std::find(sessions_.begin(), sessions_.end(), session);
  if (it != sessions_.end()) sessions_.erase(it);
}

void TKORVEXSessionList::CloseAll() {
  // The default session goes last (it stops the engine); others before it.
  for (;;) {
    TKORVEXSession* last = nullptr;
    {
      std::lock_guard<std::recursive_mutex> guard(list_lock_);
      if (sessions_.empty()) return;
      last = sessions_.back();
    }
    delete last;  // its destructor removes it from the list
  }
}

int TKORVEXSessionList::GetCount() {
  std::lock_guard<std::recursive_mutex> guard(list_lock_);
  return static_cast<int>(sessions_.size());
}

TKORVEXSession* TKORVEXSessionList::GetSession(int index) {
  std::lock_guard<std::recursive_mutex> guard(list_lock_);
  return sessions_.at(static_cast<std::size_t>(index));
}

TKORVEXSession* TKORVEXSessionList::GetCurrentSession() {
  std::lock_guard<std::recursive_mutex> guard(list_lock_);
  if (!KORVEXInitialized()) return nullptr;
  TDataSession* current = GetCurrentDataSession();
  for (TKORVEXSession* s : sessions_)
    if (s->handle_ != nullptr && s->handle_ == current) return s;
  return nullptr;
}

TKORVEXSession* TKORVEXSessionList::FindSession(const std::string& name) {
  if (name.empty()) return &Session();
  std::lock_guard<std::recursive_mutex> guard(list_lock_);
  for (TKORVEXSession* s : sessions_)
    if (rtl::AnsiSameText(s->SessionName(), name)) return s;
  return nullptr;
}

TKORVEXSession* TKORVEXSessionList::GetSessionByName(const std::string& name) {
  TKORVEXSession* s = FindSession(name);
  if (s == nullptr) Fail(cmsg::kInvalidSessionName, name);
  return s;
}

void TKORVEXSessionList::GetSessionNames(rtl::TStrings& list) {
  list.BeginUpdate();
  try {
    list.Clear();
    for (TKORVEXSession* s : Snapshot()) list.Add(s->SessionName());
  } catch (...) {
    list.EndUpdate();
    throw;
  }
  list.EndUpdate();
}

TKORVEXSession* TKORVEXSessionList::OpenSession(const std::string& name) {
  TKORVEXSession* s = FindSession(name);
  if (s == nullptr) {
    auto made = std::make_unique<TKORVEXSession>(nullptr);
    made->SetSessionName(name);
    s = made.release();
  }
  s->SetActive(true);
  return s;
}

void TKORVEXSessionList::SetCurrentSession(TKORVEXSession* session) { session->MakeCurrent(); }

int TKORVEXSessionList::TakeAutoNumber() {
  rtl::CriticalSectionLock guard(engine_lock_);
  std::size_t n = 0;
  while (n < auto_numbers_.size() && auto_numbers_[n]) ++n;
  if (n == auto_numbers_.size()) auto_numbers_.push_back(false);
  auto_numbers_[n] = true;
  return static_cast<int>(n);
}

void TKORVEXSessionList::ReleaseAutoNumber(int number) {
  rtl::CriticalSectionLock guard(engine_lock_);
  if (number >= 0 && static_cast<std::size_t>(number) < auto_numbers_.size())
    auto_numbers_[static_cast<std::size_t>(number)] = false;
}

// ---- session ------------------------------------------------------------------

TKORVEXSession::TKORVEXSession(rtl::TComponent* owner) : rtl::TComponent(owner) {
  if (owner != nullptr)
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      auto* other = dynamic_cast<TKORVEXSession*>(owner->Components(i));
      if (other != nullptr && other != this && other->AutoSessionName()) Fail(cmsg::kAutoSessionExists);
    }
  language_id_ = DefaultLanguageID();
  Sessions().AddSession(this);
}

TKORVEXSession::~TKORVEXSession() {
  destroying_ = true;
  try {
    SetActive(false);
  } catch (...) {
  }
  if (auto_number_ >= 0 && G().list) G().list->ReleaseAutoNumber(auto_number_);
  // Owned databases die while this session still is one; the others forget it.
  for (TKORVEXDatabase* d : std::vector<TKORVEXDatabase*>(databases_)) {
    if (d->Owner() == this) delete d;
    else d->SetSession(nullptr);
  }
  databases_.clear();
  if (G().list) G().list->RemoveSession(this);
  if (G().session == this) G().session = nullptr;
}

void TKORVEXSession::SetActive(bool value) {
  if ((ComponentState() & rtl::csLoading) != 0) {
    streamed_active_ = value;
    return;
  }
  if (value != Active()) StartSession(value);
}

void TKORVEXSession::Loaded() {
  rtl::TComponent::Loaded();
  if (auto_session_name_) SpreadSessionName();
  if (streamed_active_) SetActive(true);
}

void TKORVEXSession::StartSession(bool value) {
  rtl::CriticalSectionLock guard(Sessions().EngineLock());
  if (value) {
    if (OnStartup) OnStartup(this);
    if (session_name_.empty()) Fail(cmsg::kSessionNameMissing);
    if (!default_) Session().SetActive(true);
    TDataSession* handle = nullptr;
    if (default_) {
      InitializeKORVEX();
      handle = GetCurrentDataSession();
    } else {
      StartDataSession(handle);
    }
    if (!private_dir_.empty()) handle->SetPrivateDirectory(ShortString(private_dir_));
    handle->StrictChangeDetection = strict_change_detection_;
    handle->ForceBufferFlush = force_buffer_flush_;
    handle->LockRetryCount = lock_retry_count_;
    handle->LockWaitTime = lock_wait_time_;
    handle->LanguageID = language_id_;
    handle->SortID = sort_id_;
    handle_ = handle;
    SetCurrentDataSession(handle_);
  } else {
    Stop();
  }
}

void TKORVEXSession::Stop() {
  SetCurrentDataSession(handle_);
  // A copy of the list is walked: freeing a database takes it out.
  std::vector<TKORVEXDatabase*> copy(databases_);
  for (auto d = copy.rbegin(); d != copy.rend(); ++d) {
    if (std::find(databases_.begin(), databases_.end(), *d) == databases_.end()) continue;
    if ((*d)->Temporary() && !(*d)->Destroying()) delete *d;
    else (*d)->Close();
  }
  if (default_) {
    // The engine stops with the default session: every other session stops
    // first, so none is left on a stopped engine.
    for (TKORVEXSession* s : Sessions().Snapshot())
      if (s != this && s->Active()) s->SetActive(false);
    SetCurrentDataSession(handle_);
    ExitKORVEX();
  } else {
    CloseDataSession(handle_);
    TKORVEXSession* d = G().session;
    SetCurrentDataSession(d != nullptr && d->handle_ != nullptr ? d->handle_ : nullptr);
  }
  handle_ = nullptr;
}

void TKORVEXSession::LockSession() {
  if (lock_count_ > 0) {
    ++lock_count_;
    return;
  }
  Sessions().EngineLock().Enter();
  ++lock_count_;
  try {
    MakeCurrent();
  } catch (...) {
    UnlockSession();
    throw;
  }
}

void TKORVEXSession::UnlockSession() {
  if (lock_count_ == 0) return;
  if (--lock_count_ == 0) Sessions().EngineLock().Leave();
}

void TKORVEXSession::MakeCurrent() {
  if (handle_ != nullptr) SetCurrentDataSession(handle_);
  else SetActive(true);
}

TDataSession* TKORVEXSession::GetHandle() {
  SessionLock lock(*this);
  return handle_;
}

template <typename T>
void TKORVEXSession::ChangeSetting(T TKORVEXSession::*own, T TDataSession::*engine, T value) {
  if (!Active()) {
    this->*own = value;
    return;
  }
  SessionLock lock(*this);
  this->*own = value;
  handle_->*engine = value;
}

void TKORVEXSession::SetForceBufferFlush(bool value) {
  ChangeSetting(&TKORVEXSession::force_buffer_flush_, &TDataSession::ForceBufferFlush, value);
}
void TKORVEXSession::SetStrictChangeDetection(bool value) {
  ChangeSetting(&TKORVEXSession::strict_change_detection_, &TDataSession::StrictChangeDetection, value);
}
void TKORVEXSession::SetLockRetryCount(std::uint8_t value) {
  ChangeSetting(&TKORVEXSession::lock_retry_count_, &TDataSession::LockRetryCount, value);
}
void TKORVEXSession::SetLockWaitTime(std::uint16_t value) {
  ChangeSetting(&TKORVEXSession::lock_wait_time_, &TDataSession::LockWaitTime, value);
}
void TKORVEXSession::SetLanguageID(std::uint16_t value) {
  ChangeSetting(&TKORVEXSession::language_id_, &TDataSession::LanguageID, value);
}
void TKORVEXSession::SetSortID(std::uint16_t value) {
  ChangeSetting(&TKORVEXSession::sort_id_, &TDataSession::SortID, value);
}
void TKORVEXSession::SetPrivateDir(const std::string& path) {
  if (!Active()) {
    private_dir_ = path;
    return;
  }
  SessionLock lock(*this);
  if (path == private_dir_) return;
  private_dir_ = path;
  handle_->SetPrivateDirectory(ShortString(path));
}

void TKORVEXSession::SetSessionName(const std::string& name) {
  if (auto_session_name_ && !updating_auto_name_) Fail(cmsg::kAutoSessionActive);
  if (name == session_name_) return;
  if (Active()) Fail(cmsg::kSessionActive);
  if (!name.empty() && G().list)
    for (TKORVEXSession* s : Sessions().Snapshot())
      if (s != this && rtl::AnsiSameText(s->SessionName(), name)) Fail(cmsg::kDuplicateSessionName, name);
  session_name_ = name;
}

void TKORVEXSession::SetAutoSessionName(bool value) {
  if (value == auto_session_name_) return;
  if (value) {
    if (Active()) Fail(cmsg::kSessionActive);
    if (Owner() != nullptr)
      for (int i = 0; i < Owner()->ComponentCount(); ++i) {
        auto* other = dynamic_cast<TKORVEXSession*>(Owner()->Components(i));
        if (other != nullptr && other != this) Fail(cmsg::kAutoSessionExclusive);
      }
    auto_number_ = Sessions().TakeAutoNumber();
    auto_session_name_ = true;
    try {
      UpdateAutoName();
    } catch (...) {
      auto_session_name_ = false;
      Sessions().ReleaseAutoNumber(auto_number_);
      auto_number_ = -1;
      throw;
    }
  } else {
    Sessions().ReleaseAutoNumber(auto_number_);
    auto_number_ = -1;
    auto_session_name_ = false;
  }
}

void TKORVEXSession::SetName(const std::string& name) {
  rtl::TComponent::SetName(name);
  if (auto_session_name_) UpdateAutoName();
}

void TKORVEXSession::UpdateAutoName() {
  updating_auto_name_ = true;
  try {
    const std::string& base = Owner() != nullptr ? Owner()->Name() : Name();
    SetSessionName(base + "_" + std::to_string(auto_number_ + 1));
  } catch (...) {
    updating_auto_name_ = false;
    throw;
  }
  updating_auto_name_ = false;
  SpreadSessionName();
}

void TKORVEXSession::SpreadSessionName() {
  if (Owner() == nullptr) return;
  for (int i = 0; i < Owner()->ComponentCount(); ++i) {
    rtl::TComponent* c = Owner()->Components(i);
    if (auto* d = dynamic_cast<TKORVEXDatabase*>(c); d && d->SessionName() != session_name_)
      d->SetSessionName(session_name_);
    else if (auto* ds = dynamic_cast<TKORVEXDBDataSet*>(c); ds && ds->SessionName() != session_name_)
      ds->SetSessionName(session_name_);
  }
}

// ---- databases of a session ------------------------------------------------

void TKORVEXSession::AddDatabase(TKORVEXDatabase* database) {
  databases_.push_back(database);
  if (OnDBNotify) OnDBNotify(dbAdd, database);
}

void TKORVEXSession::RemoveDatabase(TKORVEXDatabase* database) {
  auto it = std::find(databases_.begin(), databases_.end(), database);
  if (it == databases_.end()) return;
  databases_.erase(it);
  if (OnDBNotify && !destroying_) OnDBNotify(dbRemove, database);
}

TKORVEXDatabase* TKORVEXSession::FindDatabase(const std::string& name) {
  for (TKORVEXDatabase* d : databases_)
    if (rtl::AnsiSameText(d->DatabaseName(), name)) return d;
  return nullptr;
}

TKORVEXDatabase* TKORVEXSession::DoFindDatabase(const std::string& name, rtl::TComponent* owner) {
  if (owner != nullptr)
    for (TKORVEXDatabase* d : databases_)
      if (d->Owner() == owner && d->HandleShared() && rtl::AnsiSameText(d->DatabaseName(), name)) return d;
  return FindDatabase(name);
}

TKORVEXDatabase* TKORVEXSession::DoOpenDatabase(const std::string& name, rtl::TComponent* owner) {
  SessionLock lock(*this);
  TKORVEXDatabase* database = DoFindDatabase(name, owner);
  std::unique_ptr<TKORVEXDatabase> made;
  if (database == nullptr) {
    made = std::make_unique<TKORVEXDatabase>(this);
    made->temporary_ = true;
    made->database_name_ = name;
    made->keep_connection_ = KeepConnections;
    database = made.get();
  }
  database->Open();
  made.release();
  ++database->ref_count_;
  return database;
}

void TKORVEXSession::CloseDatabase(TKORVEXDatabase* database) {
  if (database == nullptr || destroying_) return;
  SessionLock lock(*this);
  if (database->ref_count_ > 0) --database->ref_count_;
  if (database->ref_count_ == 0 && !database->KeepConnection()) {
    if (!database->Temporary()) database->Close();
    else if (!database->Destroying()) delete database;
  }
}

TDataDirectory* TKORVEXSession::FindDatabaseHandle(const std::string& name) {
  for (TKORVEXDatabase* d : databases_)
    if (d->Handle() != nullptr && d->HandleShared() && rtl::AnsiSameText(d->DatabaseName(), name))
      return d->Handle();
  return nullptr;
}

void TKORVEXSession::DropConnections() {
  std::vector<TKORVEXDatabase*> copy(databases_);
  for (auto d = copy.rbegin(); d != copy.rend(); ++d)
    if (std::find(databases_.begin(), databases_.end(), *d) != databases_.end() && (*d)->Temporary() &&
        (*d)->RefCount() == 0)
      delete *d;
}

void TKORVEXSession::GetDatabaseNames(rtl::TStrings& list) {
  rtl::TStringList names;
  names.SetSorted(true);
  names.Duplicates = rtl::dupIgnore;
  for (TKORVEXDatabase* d : databases_)
    if (!IsDatabasePath(d->DatabaseName())) names.Add(d->DatabaseName());
  list.Assign(&names);
}

void TKORVEXSession::GetTableNames(const std::string& database_name, rtl::TStrings& list) {
  list.BeginUpdate();
  try {
    list.Clear();
    TKORVEXDatabase* database = OpenDatabase(database_name);
    try {
      std::vector<std::string> names;
      database->Handle()->ListTableNames(names);
      for (const std::string& n : names) list.Add(n);
    } catch (...) {
      CloseDatabase(database);
      throw;
    }
    CloseDatabase(database);
  } catch (...) {
    list.EndUpdate();
    throw;
  }
  list.EndUpdate();
}

// ---- passwords ------------------------------------------------------------------

void TKORVEXSession::AddPassword(const std::string& password) {
  SessionLock lock(*this);
  handle_->AddPassword(ShortString(password));
}

void TKORVEXSession::RemovePassword(const std::string& password) {
  SessionLock lock(*this);
  handle_->DeletePassword(ShortString(password));
}

void TKORVEXSession::RemoveAllPasswords() {
  SessionLock lock(*this);
  handle_->DeleteAllPasswords();
}

bool TKORVEXSession::GetPassword() {
  if (OnPassword) {
    bool go_on = false;
    OnPassword(this, go_on);
    return go_on;
  }
  const auto& hook = G().password_hook;
  return hook ? hook(*this) : false;
}

// ---- database -------------------------------------------------------------------

TKORVEXDatabase::TKORVEXDatabase(rtl::TComponent* owner) : rtl::TComponent(owner) {
  auto* session = dynamic_cast<TKORVEXSession*>(owner);
  if (session == nullptr) session = &korvex::Session();
  std::string auto_name = AutoSessionNameOf(owner);
  session_ = session;
  session_name_ = auto_name.empty() ? session->SessionName() : auto_name;
  session->AddDatabase(this);
}

TKORVEXDatabase::~TKORVEXDatabase() {
  try {
    Close();
  } catch (...) {
  }
  if (session_ != nullptr) session_->RemoveDatabase(this);
}

void TKORVEXDatabase::SetSession(TKORVEXSession* session) {
  if (session == session_) return;
  if (session_ != nullptr) session_->RemoveDatabase(this);
  session_ = session;
  if (session_ != nullptr) session_->AddDatabase(this);
}

void TKORVEXDatabase::CheckSessionName(bool activate) {
  TKORVEXSession* session = Sessions().GetSessionByName(session_name_);
  if (session != session_) SetSession(session);
  ValidateName(database_name_);
  if (activate) session_->SetActive(true);
}

void TKORVEXDatabase::CheckDatabaseName() {
  if (database_name_.empty() && !temporary_) Fail(cmsg::kDatabaseNameMissing);
}

void TKORVEXDatabase::ValidateName(const std::string& name) {
  if (!temporary_ && !name.empty() && (IsDatabasePath(name) || !IsAlpha(name[0])))
    Fail(cmsg::kInvalidDatabaseName, name);
  if (session_ == nullptr || name.empty()) return;
  for (TKORVEXDatabase* other : std::vector<TKORVEXDatabase*>(session_->databases_)) {
    if (other == this || !rtl::AnsiSameText(other->DatabaseName(), name)) continue;
    if (handle_shared_ && other->HandleShared()) continue;
    if (other->Temporary() && other->RefCount() == 0) {
      delete other;
      continue;
    }
    Fail(cmsg::kDuplicateDatabaseName, name);
  }
}

void TKORVEXDatabase::Open() {
  if (handle_ != nullptr) return;
  if (BeforeConnect) BeforeConnect(this);
  CheckDatabaseName();
  CheckSessionName(true);
  if (handle_shared_)
    for (TKORVEXDatabase* other : session_->databases_)
      if (other != this && other->Handle() != nullptr && other->HandleShared() &&
          rtl::AnsiSameText(other->DatabaseName(), database_name_)) {
        // A use count of our own: the other may close first.
        other->Handle()->IncUseCount();
        handle_ = other->Handle();
        acquired_ = false;
        return;
      }
  SessionLock lock(*session_);
  bool path = IsDatabasePath(database_name_);
  std::string name = path ? std::string() : database_name_;
  std::string directory = temporary_ && path ? database_name_ : directory_;
  handle_ = session_->Handle()->OpenDataDirectory(ShortString(name), ShortString(directory));
  acquired_ = false;
  if (session_->OnDBNotify) session_->OnDBNotify(dbOpen, this);
}

void TKORVEXDatabase::Close() {
  if (handle_ == nullptr) return;
  if (session_ != nullptr && session_->OnDBNotify) session_->OnDBNotify(dbClose, this);
  while (!datasets_.empty()) {
    TKORVEXDBDataSet* dataset = datasets_.back();
    dataset->Disconnect();
    // A dataset that did not let go is dropped all the same.
    if (!datasets_.empty() && datasets_.back() == dataset) datasets_.pop_back();
  }
  TDataDirectory* handle = handle_;
  handle_ = nullptr;
  ref_count_ = 0;
  if (acquired_) {
    acquired_ = false;
  } else {
    handle->Session()->CloseDataDirectory(handle);
  }
}

void TKORVEXDatabase::SetDatabaseName(const std::string& name) {
  if ((ComponentState() & rtl::csLoading) != 0) {
    database_name_ = name;
    return;
  }
  if (name == database_name_) return;
  if (handle_ != nullptr) Fail(cmsg::kDatabaseOpen);
  ValidateName(name);
  database_name_ = name;
}

void TKORVEXDatabase::SetDirectory(const std::string& path) {
  if (handle_ != nullptr && path != directory_) Fail(cmsg::kDatabaseOpen);
  directory_ = path;
}

void TKORVEXDatabase::SetSessionName(const std::string& name) {
  if (handle_ != nullptr && name != session_name_) Fail(cmsg::kDatabaseOpen);
  session_name_ = name;
}

void TKORVEXDatabase::SetKeepConnection(bool value) {
  if (value == keep_connection_) return;
  keep_connection_ = value;
  if (!value && ref_count_ == 0) Close();
}

void TKORVEXDatabase::Loaded() {
  rtl::TComponent::Loaded();
  if (streamed_connected_) Open();
  else CheckSessionName(false);
}

void TKORVEXDatabase::SetHandle(TDataDirectory* directory) {
  if (Connected()) Close();
  if (directory == nullptr) return;
  CheckSessionName(true);
  if (directory->Session() != session_->Handle()) Fail(cmsg::kDatabaseHandleSet);
  handle_ = directory;
  if (session_->OnDBNotify) session_->OnDBNotify(dbOpen, this);
  acquired_ = true;
}

void TKORVEXDatabase::StartTransaction() {
  if (handle_ == nullptr) Fail(cmsg::kDatabaseClosed);
  if (handle_->TransactionInProgress()) Fail(cmsg::kBeginTransError, database_name_);
  handle_->StartTransaction();
}

void TKORVEXDatabase::Commit() {
  if (handle_ == nullptr) Fail(cmsg::kDatabaseClosed);
  if (!handle_->TransactionInProgress()) Fail(cmsg::kEndTransError, database_name_);
  handle_->CommitTransaction(true);
}

void TKORVEXDatabase::Rollback() {
  if (handle_ == nullptr) Fail(cmsg::kDatabaseClosed);
  if (!handle_->TransactionInProgress()) Fail(cmsg::kEndTransError, database_name_);
  handle_->RollbackTransaction();
}

bool TKORVEXDatabase::InTransaction() const { return handle_ != nullptr && handle_->TransactionInProgress(); }

void TKORVEXDatabase::AddDataSet(TKORVEXDBDataSet* dataset) {
  if (std::find(datasets_.begin(), datasets_.end(), dataset) == datasets_.end()) datasets_.push_back(dataset);
}

void TKORVEXDatabase::RemoveDataSet(TKORVEXDBDataSet* dataset) {
  auto it = std::find(datasets_.begin(), datasets_.end(), dataset);
  if (it != datasets_.end()) datasets_.erase(it);
}

void TKORVEXDatabase::CloseDataSets() {
  for (TKORVEXDBDataSet* d : std::vector<TKORVEXDBDataSet*>(datasets_)) d->Disconnect();
}

}  // namespace korvex
