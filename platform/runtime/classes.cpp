#include "platform/runtime/classes.h"

#include <algorithm>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/sysutils.h"

namespace rtl {

// ---- TPersistent ----------------------------------------------------------

void TPersistent::Assign(const TPersistent* source) {
  if (source == nullptr) AssignError(nullptr);
  source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* dest) const { dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* source) const {
  std::string from = source ? source->ClassName() : std::string("nil");
  throw EConvertError("Cannot assign a " + from + " to a " + ClassName());
}

// ---- TList ----------------------------------------------------------------

void TList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw ERangeError(kListIndexError);
}

void TList::Grow(int needed) {
  if (needed <= capacity_) return;
  int capacity = capacity_ > 64 ? capacity_ + capacity_ / 4 : (capacity_ > 8 ? capacity_ + 16 : capacity_ + 4);
  SetCapacity(std::max(capacity, needed));
}

int TList::Add(void* item) {
  Grow(Count() + 1);
  items_.push_back(item);
  return Count() - 1;
}

void TList::Insert(int index, void* item) {
  if (index < 0 || index > Count()) throw ERangeError(kListIndexError);
  Grow(Count() + 1);
  items_.insert(items_.begin() + index, item);
}

void TList::Delete(int index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
}

int TList::Remove(void* item) {
  int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

void* TList::Extract(void* item) {
  return Remove(item) >= 0 ? item : nullptr;
}

int TList::IndexOf(const void* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TList::Clear() {
  items_.clear();
  items_.shrink_to_fit();
  capacity_ = 0;
}

void TList::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(items_[index1], items_[index2]);
}

void TList::Move(int cur_index, int new_index) {
  if (cur_index == new_index) return;
  CheckIndex(cur_index);
  CheckIndex(new_index);
  void* item = items_[cur_index];
  items_.erase(items_.begin() + cur_index);
  items_.insert(items_.begin() + new_index, item);
}

void TList::Pack() {
  items_.erase(std::remove(items_.begin(), items_.end(), nullptr), items_.end());
}

void TList::Sort(const SortCompare& compare) {
  std::stable_sort(items_.begin(), items_.end(),
                   [&](void* a, void* b) { return compare(a, b) < 0; });
}

void TList::SetCount(int count) {
  if (count < 0) throw ERangeError("List count out of bounds");
  Grow(count);
  items_.resize(count, nullptr);
}

void TList::SetCapacity(int capacity) {
  if (capacity < Count()) throw ERangeError("List capacity out of bounds");
  items_.reserve(capacity);
  capacity_ = capacity;
}

void* TList::Items(int index) const {
  CheckIndex(index);
  return items_[index];
}

void TList::SetItems(int index, void* item) {
  CheckIndex(index);
  items_[index] = item;
}

// ---- TComponent -----------------------------------------------------------

namespace {
bool IsIdentifier(const std::string& name) {
  if (name.empty()) return false;
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!letter(name[0])) return false;
  return std::all_of(name.begin(), name.end(),
                     [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}
}  // namespace

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  MarkDestroying();
  // Tell every component registered with this one, and forget both ways.
  while (!free_notifies_.empty()) {
    TComponent* other = free_notifies_.back();
    free_notifies_.pop_back();
    other->DropFreeNotify(this);
    other->Notification(this, opRemove);
  }
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::MarkDestroying() {
  if (Destroying()) return;
  state_ |= csDestroying;
  for (TComponent* c : components_) c->MarkDestroying();
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (!name.empty() && !IsIdentifier(name))
    throw EComponentError("'" + name + "' is not a valid component name");
  if (owner_ != nullptr && !name.empty()) {
    TComponent* other = owner_->FindComponent(name);
    if (other != nullptr && other != this)
      throw EComponentError("A component named " + name + " already exists");
  }
  name_ = name;
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) throw ERangeError(kListIndexError);
  return components_[index];
}

int TComponent::ComponentIndex() const {
  if (owner_ == nullptr) return -1;
  const auto& list = owner_->components_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (component->owner_ == this) return;
  if (!component->name_.empty() && FindComponent(component->name_) != nullptr)
    throw EComponentError("A component named " + component->name_ + " already exists");
  if (component->owner_ != nullptr) component->owner_->RemoveComponent(component);
  components_.push_back(component);
  component->owner_ = this;
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (component->owner_ != this) return;
  Unlink(component);
  component->owner_ = nullptr;
  Notification(component, opRemove);
}

void TComponent::Unlink(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it != components_.end()) components_.erase(it);
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* last = components_.back();
    components_.pop_back();
    last->owner_ = nullptr;
    delete last;
  }
}

void TComponent::FreeNotification(TComponent* component) {
  if (component == nullptr || component == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), component) != free_notifies_.end())
    return;
  free_notifies_.push_back(component);
  component->FreeNotification(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (component == nullptr) return;
  DropFreeNotify(component);
  component->DropFreeNotify(this);
}

void TComponent::DropFreeNotify(TComponent* component) {
  auto it = std::find(free_notifies_.begin(), free_notifies_.end(), component);
  if (it != free_notifies_.end()) free_notifies_.erase(it);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component != nullptr) RemoveFreeNotification(component);
  // A copy: a component may remove itself or others while being told.
  std::vector<TComponent*> owned = components_;
  for (TComponent* c : owned)
    if (std::find(components_.begin(), components_.end(), c) != components_.end())
      c->Notification(component, operation);
}

void TComponent::Loaded() { state_ &= ~static_cast<unsigned>(csLoading); }

void TComponent::SetLoading(bool loading) {
  if (loading) state_ |= csLoading;
  else state_ &= ~static_cast<unsigned>(csLoading);
}

}  // namespace rtl
