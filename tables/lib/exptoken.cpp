#include "tables/lib/exptoken.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <vector>

#include "platform/runtime/sync.h"
#include "platform/runtime/sysutils.h"
#include "tables/lib/system_list.h"

namespace korvex {
namespace {

std::atomic<std::int64_t> g_live_tokens{0};

// The process-wide pool of spare nodes. It is never destroyed (nodes may be
// given back until the very end of the process); FreeAllExpTokens returns
// every spare node and the spare list to the allocator.
class TExpTokenStack {
public:
  TExpToken* Take() {
    rtl::CriticalSectionLock hold(lock_);
    std::int32_t count = spares_.Count();
    if (count == 0) return new TExpToken;
    auto* node = static_cast<TExpToken*>(spares_.Get(count - 1));
    node->Initialize();
    spares_.Delete(count - 1);
    return node;
  }

  void Give(TExpToken* node) {
    rtl::CriticalSectionLock hold(lock_);
    if (spares_.Capacity() == 0) spares_.SetCapacity(1024);
    spares_.Add(node);
  }

  void FreeAll() {
    rtl::CriticalSectionLock hold(lock_);
    for (std::int32_t i = spares_.Count() - 1; i >= 0; --i) delete static_cast<TExpToken*>(spares_.Get(i));
    spares_.Clear();
  }

  std::int32_t SpareCount() {
    rtl::CriticalSectionLock hold(lock_);
    return spares_.Count();
  }

  rtl::TCriticalSection& Lock() { return lock_; }

private:
  rtl::TCriticalSection lock_;
  TSystemList spares_;
};

TExpTokenStack& Stack() {
  alignas(TExpTokenStack) static unsigned char storage[sizeof(TExpTokenStack)];
  static TExpTokenStack* stack = new (storage) TExpTokenStack;
  return *stack;
}

// Calls visit(node, depth) for every node of the tree, without recursion, so
// that deep trees cannot exhaust the stack.
template <typename Visit>
void WalkTree(const TExpToken* tree, Visit visit) {
  std::vector<std::pair<const TExpToken*, std::size_t>> pending;
  if (tree) pending.emplace_back(tree, 1);
  while (!pending.empty()) {
    auto [node, depth] = pending.back();
    pending.pop_back();
    visit(node, depth);
    for (const TExpToken* child : {node->Third, node->Right, node->Left})
      if (child) pending.emplace_back(child, depth + 1);
  }
}

}  // namespace

namespace {

// This thread's scratch nodes; those below `top` are taken. They leave the
// count of live nodes while they are scratch, and go when the thread ends.
struct TScratchStack {
  std::vector<TExpToken*> nodes;
  std::size_t top = 0;
  TScratchStack() = default;
  TScratchStack(const TScratchStack&) = delete;
  TScratchStack& operator=(const TScratchStack&) = delete;
  ~TScratchStack() { FreeFrom(0); }
  // Destroys the nodes from `first` on.
  void FreeFrom(std::size_t first) {
    for (std::size_t i = first; i < nodes.size(); ++i) {
      ++g_live_tokens;
      delete nodes[i];
    }
    nodes.resize(std::min(first, nodes.size()));
  }
};

TScratchStack& Scratch() {
  thread_local TScratchStack stack;
  return stack;
}

}  // namespace

// ---- TExpToken -----------------------------------------------------------------

TExpToken::TExpToken() {
  ++g_live_tokens;
  ResizeValueBuffer(kInitialValueSize);
}

TExpToken::~TExpToken() {
  SafeFree(ValueBuffer);
  ValueCapacity = 0;
  --g_live_tokens;
}

void TExpToken::ResizeValueBuffer(std::int32_t size) {
  ResizeBuffer(size, kValueBufferStep, ValueBuffer, ValueCapacity);
}

void TExpToken::SetDataSize(std::int32_t size) {
  // The buffer only grows, and always holds DataSize bytes (also when the
  // size was set before without a buffer behind it).
  if (size > ValueCapacity) ResizeValueBuffer(size);
  DataSize = size;
}

void TExpToken::SetStringValue(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  auto size = static_cast<std::int32_t>(text.size() + 1);
  SetDataSize(size);
  if (!text.empty()) std::memcpy(ValueBuffer, text.data(), text.size());
  ValueBuffer[text.size()] = 0;
}

std::string_view TExpToken::TextValue() const {
  if (IsNull || !ValueBuffer) return {};
  const char* text = StringValue();
  return std::string_view(text, strnlen(text, static_cast<std::size_t>(ValueCapacity)));
}

std::int64_t TExpToken::IntegralValue() const {
  switch (DataType) {
    case dtSmallInt: return Value<std::int16_t>();
    case dtWord: case dtBoolean: return Value<std::uint16_t>();
    default: return Value<std::int32_t>();
  }
}

void TExpToken::SetBytesValue(const void* data, std::size_t size) {
  if (size == 0) {
    SetNullValue();
    return;
  }
  SetDataSize(static_cast<std::int32_t>(size) + 1);
  ClearValue();
  std::memcpy(ValueBuffer, data, size);
  DataSize = static_cast<std::int32_t>(size);
  IsNull = false;
}

void TExpToken::ClearValue() {
  if (ValueBuffer) std::memset(ValueBuffer, 0, static_cast<std::size_t>(ValueCapacity));
}

void TExpToken::Initialize() {
  Text.clear();
  NodeClass = enNULL;
  Operator = eoNOTDEFINED;
  OptimizeLevel = 0;
  JoinType = jtNone;
  JoinCondition = false;
  ColumnName.clear();
  FieldNumber = 0;
  TableName.clear();
  SourceTable = nullptr;
  SubQuery = nullptr;
  IsNull = false;
  IsParameter = false;
  CompareLength = 0;
  CompareIgnoreCase = false;
  DataType = dtUnknown;
  SubType = fstNone;
  DataSize = 0;
  Scale = 0;
  ColumnFromConstant = false;
  SavedDataType = 0;
  SavedSubType = 0;
  SavedDataSize = 0;
  SavedScale = 0;
  Parent = Left = Right = Third = nullptr;
  if (ValueBuffer && ValueCapacity <= kValueBufferStep) {
    ClearValue();
  } else {
    SafeFree(ValueBuffer);
    ValueCapacity = 0;
    ResizeValueBuffer(kInitialValueSize);
  }
}

void TExpToken::Copy(const TExpToken& source) {
  if (&source == this) return;
  Text = source.Text;
  NodeClass = source.NodeClass;
  Operator = source.Operator;
  OptimizeLevel = source.OptimizeLevel;
  JoinType = source.JoinType;
  JoinCondition = source.JoinCondition;
  ColumnName = source.ColumnName;
  FieldNumber = source.FieldNumber;
  TableName = source.TableName;
  SourceTable = source.SourceTable;
  SubQuery = source.SubQuery;
  IsNull = source.IsNull;
  IsParameter = source.IsParameter;
  CompareLength = source.CompareLength;
  CompareIgnoreCase = source.CompareIgnoreCase;
  DataType = source.DataType;
  SubType = source.SubType;
  DataSize = source.DataSize;
  Scale = source.Scale;
  ColumnFromConstant = source.ColumnFromConstant;
  SavedDataType = source.SavedDataType;
  SavedSubType = source.SavedSubType;
  SavedDataSize = source.SavedDataSize;
  SavedScale = source.SavedScale;
  Parent = source.Parent;
  Left = source.Left;
  Right = source.Right;
  Third = source.Third;
  if (ValueCapacity != source.ValueCapacity) ResizeValueBuffer(source.ValueCapacity);
  if (source.ValueBuffer && source.ValueCapacity > 0)
    std::memcpy(ValueBuffer, source.ValueBuffer, static_cast<std::size_t>(source.ValueCapacity));
}

bool TExpToken::Compare(const TExpToken& other) const {
  if (NodeClass != other.NodeClass || Operator != other.Operator) return false;
  if (!rtl::AnsiSameText(ColumnName, other.ColumnName) || !rtl::AnsiSameText(TableName, other.TableName))
    return false;
  if (IsParameter != other.IsParameter || CompareLength != other.CompareLength ||
      CompareIgnoreCase != other.CompareIgnoreCase || DataType != other.DataType ||
      SubType != other.SubType || DataSize != other.DataSize || Scale != other.Scale)
    return false;
  if (NodeClass == enCONST) {
    if (IsNull != other.IsNull) return false;
    std::int32_t n = std::min({DataSize, ValueCapacity, other.ValueCapacity});
    if (n > 0 && std::memcmp(ValueBuffer, other.ValueBuffer, static_cast<std::size_t>(n)) != 0) return false;
  }
  return true;
}

// ---- pool ----------------------------------------------------------------------

TExpToken* GetNewExpTokenInstance() { return Stack().Take(); }

void ReturnExpTokenInstance(TExpToken*& node) {
  if (!node) return;
  Stack().Give(node);
  node = nullptr;
}

void FreeAllExpTokens() {
  Stack().FreeAll();
  // This thread's scratch nodes that no evaluation holds are spares too.
  Scratch().FreeFrom(Scratch().top);
}
void LockExpTokenStack() { Stack().Lock().Enter(); }
void UnlockExpTokenStack() { Stack().Lock().Leave(); }
std::int32_t SpareExpTokenCount() { return Stack().SpareCount(); }
std::int64_t ExpTokensInUse() {
  rtl::CriticalSectionLock hold(Stack().Lock());
  return g_live_tokens.load() - Stack().SpareCount();
}

// ---- scratch nodes -------------------------------------------------------------------

TScratchExpToken::TScratchExpToken() {
  TScratchStack& stack = Scratch();
  if (stack.top == stack.nodes.size()) {
    stack.nodes.reserve(stack.nodes.size() + 1);
    stack.nodes.push_back(new TExpToken);
    --g_live_tokens;
  }
  node_ = stack.nodes[stack.top++];
  // A buffer grown by a long value goes back to the first size, as a node
  // from the pool has it.
  if (node_->ValueCapacity > kValueBufferStep) node_->Initialize();
}

TScratchExpToken::~TScratchExpToken() { --Scratch().top; }

std::size_t ScratchExpTokenCount() { return Scratch().nodes.size(); }

// ---- tree utilities ---------------------------------------------------------------

void FreeExpressionTokens(TExpToken*& tree) {
  if (!tree) return;
  if (!tree->Left && !tree->Right && !tree->Third) {
    // A single node, as every evaluated value is: nothing to collect.
    ReturnExpTokenInstance(tree);
    return;
  }
  // Collect first, then give back: a node's links must not be read after
  // it went to the pool, where another thread may take it.
  std::vector<TExpToken*> nodes;
  WalkTree(tree, [&](const TExpToken* node, std::size_t) { nodes.push_back(const_cast<TExpToken*>(node)); });
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
    TExpToken* node = *it;
    ReturnExpTokenInstance(node);
  }
  tree = nullptr;
}

namespace {

TExpToken* CopyNode(const TExpToken* source, TExpToken* parent) {
  if (!source) return nullptr;
  ExpTokenGuard copy(GetNewExpTokenInstance());
  copy->Copy(*source);
  copy->Parent = parent;
  copy->Left = copy->Right = copy->Third = nullptr;
  copy->Left = CopyNode(source->Left, copy.get());
  copy->Right = CopyNode(source->Right, copy.get());
  copy->Third = CopyNode(source->Third, copy.get());
  return copy.Release();
}

}  // namespace

TExpToken* CopyExpressionTokens(const TExpToken* tree) { return CopyNode(tree, nullptr); }

bool CompareExpressionTokens(const TExpToken* a, const TExpToken* b) {
  if (!a || !b) return a == b;
  return CompareExpressionTokens(a->Left, b->Left) && CompareExpressionTokens(a->Right, b->Right) &&
         CompareExpressionTokens(a->Third, b->Third) && a->Compare(*b);
}

void LinkParents(TExpToken* tree, TExpToken* parent) {
  if (!tree) return;
  tree->Parent = parent;
  LinkParents(tree->Left, tree);
  LinkParents(tree->Right, tree);
  LinkParents(tree->Third, tree);
}

std::size_t ExpressionDepth(const TExpToken* tree) {
  std::size_t deepest = 0;
  WalkTree(tree, [&](const TExpToken*, std::size_t depth) { deepest = std::max(deepest, depth); });
  return deepest;
}

namespace {

constexpr std::size_t kExpressionTextLimit = 200;

void AppendText(std::string& out, const TExpToken* node, bool nested) {
  if (!node || out.size() > kExpressionTextLimit) return;
  switch (node->NodeClass) {
    case enUNARY:
      if (node->Operator == eoISBLANK || node->Operator == eoNOTBLANK) {
        AppendText(out, node->Left, true);
        out += node->Operator == eoISBLANK ? " IS NULL" : " IS NOT NULL";
        return;
      }
      out += node->Text;
      if (node->Operator == eoNOT) out += ' ';
      AppendText(out, node->Left, true);
      return;
    case enBINARY:
    case enCOMPARE:
      if (nested) out += '(';
      AppendText(out, node->Left, true);
      out += ' ' + node->Text + ' ';
      AppendText(out, node->Right, true);
      if (nested) out += ')';
      return;
    case enFUNC:
      out += node->Text + '(';
      AppendText(out, node->Left, false);
      if (node->Right || node->Third) out += ", ...";
      out += ')';
      return;
    case enEXTBINARY:
      AppendText(out, node->Left, true);
      out += ' ' + node->Text + " ...";
      return;
    case enTUPLE:
      out += "(SELECT ...)";
      return;
    default:
      out += node->Text.empty() ? node->ColumnName : node->Text;
      return;
  }
}

}  // namespace

std::string ExpressionText(const TExpToken* tree) {
  std::string text;
  AppendText(text, tree, false);
  if (text.size() > kExpressionTextLimit) text = text.substr(0, kExpressionTextLimit) + "...";
  return text;
}

// ---- searches -----------------------------------------------------------------------

bool ContainsOrs(const TExpToken* node) {
  if (!node) return false;
  if (node->NodeClass == enBINARY) return node->Operator == eoOR;
  if (node->NodeClass == enUNARY && node->Operator == eoNOT) return !ContainsOrs(node->Left);
  return false;
}

bool ContainsNots(const TExpToken* node) {
  if (!node) return false;
  if (node->NodeClass == enUNARY) return node->Operator == eoNOT;
  if (node->NodeClass == enBINARY) return ContainsNots(node->Parent);
  return false;
}

namespace {

// Walks the operands as the column search does; `match` decides per node.
template <typename Match>
const TExpToken* FindInOperands(const TExpToken* node, Match match) {
  if (!node) return nullptr;
  if (match(node)) return node;
  switch (node->NodeClass) {
    case enUNARY:
      return FindInOperands(node->Left, match);
    case enBINARY:
    case enCOMPARE:
      if (auto* found = FindInOperands(node->Left, match)) return found;
      return FindInOperands(node->Right, match);
    case enFUNC:
    case enEXTBINARY:
      if (node->Operator == eoIF) {
        for (const TExpToken* operand : {node->Left, node->Right, node->Third})
          if (auto* found = FindInOperands(operand, match)) return found;
        return nullptr;
      }
      return FindInOperands(node->Left, match);
    default:
      return nullptr;
  }
}

bool IsColumn(const TExpToken* node) { return node->NodeClass == enFIELD; }

bool IsAggregate(const TExpToken* node) {
  return node->NodeClass == enFUNC && node->Operator >= eoSUM && node->Operator <= eoAVG;
}

}  // namespace

bool ContainsFields(const TExpToken* node) { return FindInOperands(node, IsColumn) != nullptr; }

bool ContainsAggregates(const TExpToken* node) { return FindInOperands(node, IsAggregate) != nullptr; }

TExpToken* GetFieldToken(TExpToken* node) { return const_cast<TExpToken*>(FindInOperands(node, IsColumn)); }

std::uint8_t GetOperatorForAggregate(std::string_view name) {
  static constexpr std::pair<const char*, TExpOperator> kNames[] = {
      {"SUM", eoSUM}, {"COUNT", eoCOUNT}, {"MIN", eoMIN}, {"MAX", eoMAX}, {"AVG", eoAVG}};
  for (const auto& [text, op] : kNames)
    if (rtl::AnsiSameText(name, text)) return op;
  return eoNOTDEFINED;
}

bool IsUpperField(const TExpToken* node) {
  return node && node->NodeClass == enFUNC && node->Operator == eoUPPER && node->Left &&
         node->Left->NodeClass == enFIELD;
}

}  // namespace korvex
