// Expression nodes, the node pool and the tree utilities.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "tables/lib/exptoken.h"
#include "tables/lib/expfilter.h"
#include "tests/tables/lib/expr_test_support.h"

namespace korvex::testing {
namespace {

class ExprTokenTest : public ExprTest {};

bool AllZero(const TExpToken* node) {
  for (std::int32_t i = 0; i < node->ValueCapacity; ++i)
    if (node->ValueBuffer[i] != 0) return false;
  return true;
}

TEST_F(ExprTokenTest, FreshAndReusedNodesAreCleared) {
  TExpToken* node = GetNewExpTokenInstance();
  EXPECT_EQ(node->ValueCapacity, 255);
  EXPECT_EQ(node->DataSize, 0);
  EXPECT_TRUE(AllZero(node));
  node->Text = "x";
  node->ColumnName = "Lname";
  node->Left = node;
  node->SetStringValue("Smith");
  node->SetDataSize(300);
  EXPECT_EQ(node->ValueCapacity, 510);
  node->SetDataSize(10);
  EXPECT_EQ(node->ValueCapacity, 510);
  TExpToken* kept = node;
  ReturnExpTokenInstance(node);
  EXPECT_EQ(node, nullptr);
  TExpToken* again = GetNewExpTokenInstance();
  EXPECT_EQ(again, kept);  // the last spare is taken first
  EXPECT_EQ(again->ValueCapacity, 255);
  EXPECT_TRUE(AllZero(again));
  EXPECT_TRUE(again->Text.empty());
  EXPECT_TRUE(again->ColumnName.empty());
  EXPECT_EQ(again->Left, nullptr);
  ReturnExpTokenInstance(again);
  TExpToken* none = nullptr;
  ReturnExpTokenInstance(none);  // nothing happens
}

TEST_F(ExprTokenTest, CopyTakesEveryFieldAndSharesTheOperands) {
  ExpTokenGuard source(Parse("Lname = 'Smith'"));
  ExpTokenGuard copy(GetNewExpTokenInstance());
  copy->Copy(*source->Right);
  EXPECT_STREQ(copy->StringValue(), "Smith");
  EXPECT_EQ(copy->DataSize, 6);
  copy->Copy(*source);
  EXPECT_EQ(copy->Left, source->Left);  // shared, not copied
  copy->Left = copy->Right = nullptr;
}

TEST_F(ExprTokenTest, CompareLooksAtTheNodeNotItsOperands) {
  ExpTokenGuard a(Parse("'abc'")), b(Parse("'abd'")), c(Parse("'abc'"));
  EXPECT_FALSE(a->Compare(*b));
  EXPECT_TRUE(a->Compare(*c));
  ExpTokenGuard name(Parse("inds.Name")), upper(Parse("INDS.NAME")), other(Parse("fams.Name"));
  EXPECT_TRUE(name->Compare(*upper));
  EXPECT_FALSE(name->Compare(*other));
  ExpTokenGuard x(Parse("a = 1")), y(Parse("b = 2"));
  EXPECT_TRUE(x->Compare(*y));
  EXPECT_FALSE(CompareExpressionTokens(x.get(), y.get()));
}

TEST_F(ExprTokenTest, TreeCompare) {
  EXPECT_TRUE(CompareExpressionTokens(nullptr, nullptr));
  ExpTokenGuard a(Parse("a = 1 AND b IN (1, 2)")), b(Parse("A = 1 AND B IN (1, 2)")), c(Parse("a = 1 AND b IN (1, 3)"));
  EXPECT_FALSE(CompareExpressionTokens(a.get(), nullptr));
  EXPECT_TRUE(CompareExpressionTokens(a.get(), b.get()));
  EXPECT_FALSE(CompareExpressionTokens(a.get(), c.get()));
}

void ExpectParentsInside(const TExpToken* node, const TExpToken* parent, const std::vector<const TExpToken*>& foreign) {
  if (!node) return;
  EXPECT_EQ(node->Parent, parent);
  for (const TExpToken* f : foreign) EXPECT_NE(node->Parent, f);
  ExpectParentsInside(node->Left, node, foreign);
  ExpectParentsInside(node->Right, node, foreign);
  ExpectParentsInside(node->Third, node, foreign);
}

void Collect(const TExpToken* node, std::vector<const TExpToken*>& nodes) {
  if (!node) return;
  nodes.push_back(node);
  Collect(node->Left, nodes);
  Collect(node->Right, nodes);
  Collect(node->Third, nodes);
}

TEST_F(ExprTokenTest, DeepCopyLinksParentsInsideTheCopy) {
  TExpToken* source = Checked(AllTypes(), "NOT (I = 1 AND S LIKE 'a%') OR IF(B THEN 1 ELSE 2) = SI");
  std::vector<const TExpToken*> source_nodes;
  Collect(source, source_nodes);
  ExpTokenGuard copy(CopyExpressionTokens(source));
  EXPECT_TRUE(CompareExpressionTokens(source, copy.get()));
  ExpectParentsInside(copy.get(), nullptr, source_nodes);
  FreeExpressionTokens(source);
  EXPECT_EQ(source, nullptr);
  EXPECT_EQ(CopyExpressionTokens(nullptr), nullptr);
}

TEST_F(ExprTokenTest, FreeingGivesEveryNodeBack) {
  std::int64_t before = ExpTokensInUse();
  TExpToken* tree = Parse("a IN (1, 2, 3) AND SUBSTRING(s FROM 1 FOR 2) = 'x' OR IF(b THEN 1 ELSE 2) = 3");
  EXPECT_EQ(ExpTokensInUse() - before, 19);
  FreeExpressionTokens(tree);
  EXPECT_EQ(tree, nullptr);
  EXPECT_EQ(ExpTokensInUse(), before);
}

TEST_F(ExprTokenTest, Searches) {
  ExpTokenGuard ors(Parse("a = 1 OR b = 2")), ands(Parse("a = 1 AND b = 2")), not_and(Parse("NOT (a = 1 AND b = 2)"));
  EXPECT_TRUE(ContainsOrs(ors.get()));
  EXPECT_FALSE(ContainsOrs(ands.get()));
  EXPECT_TRUE(ContainsOrs(not_and.get()));

  ExpTokenGuard checked(Checked(AllTypes(), "NOT (I = 1 AND SI = 2)"));
  const TExpToken* inner = checked->Left->Left;  // I = 1
  EXPECT_TRUE(ContainsNots(inner));
  EXPECT_TRUE(ContainsNots(checked.get()));
  ExpTokenGuard plain(Checked(AllTypes(), "I = 1 AND SI = 2"));
  EXPECT_FALSE(ContainsNots(plain->Left));
  EXPECT_FALSE(ContainsNots(nullptr));

  ExpTokenGuard constant(Parse("1 + 2 = 3")), column(Parse("1 + x = 3")), in_if(Parse("IF(a = 1 THEN 2 ELSE y)"));
  EXPECT_FALSE(ContainsFields(constant.get()));
  EXPECT_TRUE(ContainsFields(column.get()));
  EXPECT_EQ(GetFieldToken(column.get())->ColumnName, "x");
  EXPECT_EQ(GetFieldToken(in_if.get())->ColumnName, "a");
  EXPECT_EQ(GetFieldToken(constant.get()), nullptr);

  ExpTokenGuard aggregate(Parse("SUM(a) / COUNT(*) > 1")), none(Parse("UPPER(a) = 'X'"));
  EXPECT_TRUE(ContainsAggregates(aggregate.get()));
  EXPECT_FALSE(ContainsAggregates(none.get()));
  EXPECT_TRUE(IsUpperField(none->Left));
  EXPECT_FALSE(IsUpperField(none.get()));

  EXPECT_EQ(GetOperatorForAggregate("count"), eoCOUNT);
  EXPECT_EQ(GetOperatorForAggregate("Avg"), eoAVG);
  EXPECT_EQ(GetOperatorForAggregate("MEDIAN"), eoNOTDEFINED);
}

TEST_F(ExprTokenTest, StripNullComparisons) {
  TExpToken* tree = Checked(AllTypes(), "I IS NULL AND S = 'x'");
  TExpToken* top = tree;
  EXPECT_FALSE(StripNullComparisons(tree));
  EXPECT_EQ(tree, top);  // the AND node now holds its right operand
  EXPECT_EQ(tree->Operator, eoEQ);
  EXPECT_EQ(tree->Left->ColumnName, "S");
  EXPECT_EQ(tree->Left->Parent, tree);
  FreeExpressionTokens(tree);

  tree = Checked(AllTypes(), "I IS NULL OR S IS NOT NULL");
  EXPECT_TRUE(StripNullComparisons(tree));  // nothing remains; the nodes are back
  tree = Checked(AllTypes(), "NOT (I IS NULL)");
  EXPECT_TRUE(StripNullComparisons(tree));
  tree = Checked(AllTypes(), "I = 1 AND (S = 'a' OR SI IS NULL)");
  EXPECT_FALSE(StripNullComparisons(tree));
  EXPECT_EQ(tree->Right->Operator, eoEQ);
  FreeExpressionTokens(tree);
}

TEST_F(ExprTokenTest, ThePoolServesSeveralThreads) {
  std::int64_t before = ExpTokensInUse();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 2000; ++i) {
        TExpToken* a = GetNewExpTokenInstance();
        TExpToken* b = GetNewExpTokenInstance();
        a->Left = b;
        FreeExpressionTokens(a);
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ExpTokensInUse(), before);
}

}  // namespace
}  // namespace korvex::testing
