#include "platform/runtime/classes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/runtime/exceptions.h"
#include "support/raised.h"

namespace rtl {
namespace {

// Records every notification it receives and its own destruction.
class Probe : public TComponent {
public:
  Probe(TComponent* owner, std::string tag, std::vector<std::string>* log)
      : TComponent(owner), tag_(std::move(tag)), log_(log) {}
  ~Probe() override { log_->push_back("~" + tag_); }
  void Notification(TComponent* component, TOperation operation) override {
    auto probe = dynamic_cast<Probe*>(component);
    std::string who = probe ? probe->tag_ : "?";
    log_->push_back(tag_ + ":" + std::to_string(static_cast<int>(operation)) + ":" + who);
    TComponent::Notification(component, operation);
  }
  std::string tag_;

private:
  std::vector<std::string>* log_;
};

TEST(Component, OwnerFreesOwnedComponentsLastFirst) {
  std::vector<std::string> log;
  auto* form = new Probe(nullptr, "form", &log);
  auto* a = new Probe(form, "a", &log);
  auto* b = new Probe(form, "b", &log);
  auto* inner = new Probe(a, "inner", &log);
  EXPECT_EQ(form->ComponentCount(), 2);
  EXPECT_EQ(form->Components(1), b);
  EXPECT_EQ(a->Owner(), form);
  EXPECT_EQ(inner->Owner(), a);
  EXPECT_EQ(b->ComponentIndex(), 1);
  EXPECT_THROW(form->Components(2), ERangeError);
  log.clear();
  delete form;
  EXPECT_EQ(log, (std::vector<std::string>{"~form", "~b", "~a", "~inner"}));
}

TEST(Component, InsertAndRemoveNotifyTheOwnerChain) {
  std::vector<std::string> log;
  Probe form(nullptr, "form", &log);
  auto* a = new Probe(&form, "a", &log);
  log.clear();
  auto* b = new Probe(&form, "b", &log);
  // The owner hears of the insertion and passes it on to what it owns (b
  // itself is still being built, so only its TComponent part listens).
  EXPECT_EQ(log, (std::vector<std::string>{"form:0:?", "a:0:?"}));
  log.clear();
  delete a;
  EXPECT_EQ(log, (std::vector<std::string>{"~a", "form:1:?", "b:1:?"}));
  EXPECT_EQ(form.ComponentCount(), 1);
  EXPECT_EQ(b->ComponentIndex(), 0);
}

TEST(Component, FreeNotificationTellsSubscribersOnce) {
  std::vector<std::string> log;
  Probe left(nullptr, "left", &log);
  auto* memo = new Probe(nullptr, "memo", &log);
  auto* gutter = new Probe(&left, "gutter", &log);
  memo->FreeNotification(gutter);
  memo->FreeNotification(gutter);  // once only
  log.clear();
  delete memo;
  EXPECT_EQ(log, (std::vector<std::string>{"~memo", "gutter:1:?"}));
  // Both sides forgot: destroying the gutter tells nobody about the memo.
  log.clear();
  delete gutter;
  EXPECT_EQ(log, (std::vector<std::string>{"~gutter", "left:1:?"}));
}

TEST(Component, FreeNotificationWorksBothWaysAndCanBeWithdrawn) {
  std::vector<std::string> log;
  auto* a = new Probe(nullptr, "a", &log);
  auto* b = new Probe(nullptr, "b", &log);
  auto* c = new Probe(nullptr, "c", &log);
  a->FreeNotification(b);
  a->FreeNotification(c);
  a->RemoveFreeNotification(c);
  log.clear();
  delete b;  // a registered with b and b with a
  EXPECT_EQ(log, (std::vector<std::string>{"~b", "a:1:?"}));
  log.clear();
  delete a;
  delete c;
  EXPECT_EQ(log, (std::vector<std::string>{"~a", "~c"}));
}

TEST(Component, SiblingsWithFreeNotificationAreToldDuringOwnerTeardown) {
  std::vector<std::string> log;
  auto* form = new Probe(nullptr, "form", &log);
  auto* memo = new Probe(form, "memo", &log);
  auto* gutter = new Probe(form, "gutter", &log);
  gutter->FreeNotification(memo);
  log.clear();
  delete form;  // gutter goes first and tells memo, which is still alive
  EXPECT_EQ(log, (std::vector<std::string>{"~form", "~gutter", "memo:1:?", "~memo"}));
}

TEST(Component, OtherOperationValuesPassThrough) {
  std::vector<std::string> log;
  Probe memo(nullptr, "memo", &log);
  Probe gutter(nullptr, "gutter", &log);
  gutter.Notification(&memo, static_cast<TOperation>(64));
  EXPECT_EQ(log.back(), "gutter:64:memo");
}

TEST(Component, NamesAreIdentifiersUniqueWithinTheOwner) {
  TComponent form(nullptr);
  auto* a = new TComponent(&form);
  auto* b = new TComponent(&form);
  a->SetName("Button1");
  EXPECT_EQ(form.FindComponent("BUTTON1"), a);
  EXPECT_EQ(qvtest::WhatRaised<EComponentError>([&] { b->SetName("button1"); }),
            "A component named button1 already exists");
  EXPECT_THROW(b->SetName("1abc"), EComponentError);
  EXPECT_THROW(b->SetName("a b"), EComponentError);
  b->SetName("Edit_2");
  EXPECT_EQ(form.FindComponent("edit_2"), b);
  EXPECT_EQ(form.FindComponent(""), nullptr);
  // Moving a component to an owner that has its name already is refused.
  TComponent other(nullptr);
  auto* c = new TComponent(&other);
  c->SetName("Button1");
  EXPECT_THROW(form.InsertComponent(c), EComponentError);
  EXPECT_EQ(c->Owner(), &other);
}

TEST(Component, RemoveComponentHandsOverOwnership) {
  TComponent form(nullptr);
  auto* a = new TComponent(&form);
  form.RemoveComponent(a);
  EXPECT_EQ(a->Owner(), nullptr);
  EXPECT_EQ(form.ComponentCount(), 0);
  TComponent other(nullptr);
  other.InsertComponent(a);  // freed by other
  EXPECT_EQ(a->Owner(), &other);
}

TEST(Component, DestroyingFlagReachesOwnedComponents) {
  struct Watcher : TComponent {
    using TComponent::TComponent;
    bool* seen = nullptr;
    ~Watcher() override { *seen = Destroying(); }
  };
  bool seen = false;
  auto* form = new TComponent(nullptr);
  auto* w = new Watcher(form);
  w->seen = &seen;
  delete form;
  EXPECT_TRUE(seen);
}

// ---- TPersistent and TList ------------------------------------------------

TEST(Persistent, AssignWithoutSupportRaisesConvertError) {
  TPersistent a, b;
  EXPECT_EQ(qvtest::WhatRaised<EConvertError>([&] { a.Assign(&b); }), "Cannot assign a TPersistent to a TPersistent");
  EXPECT_THROW(a.Assign(nullptr), EConvertError);
}

TEST(List, AddInsertDeleteRemove) {
  int v[5];
  TList list;
  list.Add(&v[0]);
  list.Add(&v[2]);
  list.Insert(1, &v[1]);
  list.Insert(3, &v[3]);
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Items(1), &v[1]);
  EXPECT_EQ(list.IndexOf(&v[3]), 3);
  EXPECT_EQ(list.Remove(&v[1]), 1);
  EXPECT_EQ(list.Remove(&v[4]), -1);
  list.Delete(0);
  EXPECT_EQ(list.First(), &v[2]);
  EXPECT_EQ(list.Last(), &v[3]);
  list.Exchange(0, 1);
  EXPECT_EQ(list[0], &v[3]);
  list.Move(0, 1);
  EXPECT_EQ(list[1], &v[3]);
  EXPECT_EQ(list.Extract(&v[3]), &v[3]);
  EXPECT_EQ(list.Extract(&v[3]), nullptr);
}

TEST(List, IndexErrorsRaiseRangeError) {
  TList list;
  EXPECT_EQ(qvtest::WhatRaised<ERangeError>([&] { list.Items(0); }), "List index out of bounds");
  EXPECT_THROW(list.Delete(0), ERangeError);
  EXPECT_THROW(list.Insert(1, nullptr), ERangeError);
  EXPECT_THROW(list.First(), ERangeError);
  EXPECT_THROW(list.SetItems(-1, nullptr), ERangeError);
  EXPECT_THROW(list.SetCount(-1), ERangeError);
}

TEST(List, CountCapacityPackAndStableSort) {
  TList list;
  list.SetCapacity(10);
  EXPECT_EQ(list.Capacity(), 10);
  list.SetCount(3);
  EXPECT_EQ(list.Items(2), nullptr);
  EXPECT_THROW(list.SetCapacity(2), ERangeError);
  int v[4] = {3, 1, 3, 2};
  list.SetItems(1, &v[0]);
  list.Add(&v[1]);
  list.Add(&v[2]);
  list.Add(&v[3]);
  list.Pack();
  EXPECT_EQ(list.Count(), 4);
  list.Sort([](void* a, void* b) { return *static_cast<int*>(a) - *static_cast<int*>(b); });
  EXPECT_EQ(list[0], &v[1]);
  EXPECT_EQ(list[1], &v[3]);
  EXPECT_EQ(list[2], &v[0]);  // the two 3s keep their order
  EXPECT_EQ(list[3], &v[2]);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
}

}  // namespace
}  // namespace rtl
