// The base classes of the object model: TObject, TPersistent (assignment
// between objects), TList (a list of untyped pointers) and TComponent
// (ownership, names and notifications).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rtl {

class TObject {
public:
  virtual ~TObject() = default;
  // The class name shown in messages ("Cannot assign a X to a Y").
  virtual std::string ClassName() const { return "TObject"; }
};

using TNotifyEvent = std::function<void(TObject* sender)>;

class TPersistent : public TObject {
public:
  std::string ClassName() const override { return "TPersistent"; }
  // Copies source into this object. The default asks source->AssignTo, which
  // raises EConvertError when neither side knows the other.
  virtual void Assign(const TPersistent* source);

protected:
  virtual void AssignTo(TPersistent* dest) const;
  // Raises EConvertError "Cannot assign a <source> to a <this>".
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

// A list of pointers; it never owns what they point to.
class TList : public TObject {
public:
  using SortCompare = std::function<int(void* item1, void* item2)>;

  std::string ClassName() const override { return "TList"; }

  int Add(void* item);
  void Insert(int index, void* item);
  void Delete(int index);
  // Removes the first occurrence of item; its former index, or -1.
  int Remove(void* item);
  // Removes item without further ado; item, or nullptr when absent.
  void* Extract(void* item);
  int IndexOf(const void* item) const;
  void Clear();
  void Exchange(int index1, int index2);
  void Move(int cur_index, int new_index);
  // Drops every nullptr entry.
  void Pack();
  // Stable sort by compare (negative, 0, positive).
  void Sort(const SortCompare& compare);

  int Count() const { return static_cast<int>(items_.size()); }
  // Growing fills with nullptr; a negative count raises ERangeError.
  void SetCount(int count);
  int Capacity() const { return capacity_; }
  // A capacity below Count raises ERangeError.
  void SetCapacity(int capacity);

  // Index errors raise ERangeError "List index out of bounds".
  void* Items(int index) const;
  void SetItems(int index, void* item);
  void* operator[](int index) const { return Items(index); }
  void* First() const { return Items(0); }
  void* Last() const { return Items(Count() - 1); }

private:
  void CheckIndex(int index) const;
  void Grow(int needed);

  std::vector<void*> items_;
  int capacity_ = 0;
};

// What happened to the component passed to Notification. Other values (the
// memo passes 64 for a window message) are passed through as they are.
enum TOperation : int { opInsert = 0, opRemove = 1 };

enum TComponentStateFlag : unsigned {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csWriting = 1u << 2,
  csDestroying = 1u << 3,
  csDesigning = 1u << 4,
};

// A component belongs to its owner: the owner's destructor deletes every
// component it owns. Components that asked for a free notification of each
// other are told (Notification with opRemove) when one of them is destroyed.
class TComponent : public TPersistent {
public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  std::string ClassName() const override { return "TComponent"; }

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  // Raises EComponentError for a name that is not an identifier or that
  // another component of the same owner already has (compared case-blind).
  virtual void SetName(const std::string& name);

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;
  int ComponentIndex() const;
  // The owned component of that name (case-blind), or nullptr.
  TComponent* FindComponent(const std::string& name) const;

  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);
  // Deletes every owned component, last first.
  void DestroyComponents();

  // Registers both ways: each of the two is told when the other is destroyed.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  // Told of components inserted into or removed from this one's owner
  // chain (opInsert/opRemove) and of the destruction of components that
  // asked for free notification. The default forgets a removed component's
  // free-notification entry and passes the call on to every owned component.
  virtual void Notification(TComponent* component, TOperation operation);

  unsigned ComponentState() const { return state_; }
  bool Destroying() const { return (state_ & csDestroying) != 0; }
  // Called by a reader after the component's properties were loaded.
  virtual void Loaded();
  void SetLoading(bool loading);

  std::intptr_t Tag = 0;

private:
  void Unlink(TComponent* component);  // drops from components_ only
  void DropFreeNotify(TComponent* component);
  void MarkDestroying();

  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> free_notifies_;
  unsigned state_ = 0;
};

}  // namespace rtl
