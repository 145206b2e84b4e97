#include "textutil/compress.h"

#include <algorithm>
#include <array>
#include <vector>

#include "textutil/detail.h"
#include "textutil/state.h"

namespace textutil {
namespace {

using detail::U;

std::string_view Window(std::string_view source, std::size_t count) {
  return (count != 0 && count <= source.size()) ? source.substr(0, count) : source;
}

// ---- splay tree -----------------------------------------------------------

constexpr int kEndSymbol = 256;

// Nodes 0..255 are inner nodes (0 the root), 256 + s the leaf of symbol s.
struct SplayTree {
  std::array<std::uint16_t, 256> left;
  std::array<std::uint16_t, 256> right;
  std::array<std::uint8_t, 513> up;
  std::uint16_t decode_node = 0;

  SplayTree() { Reset(); }

  void Reset() {
    for (int j = 0; j < 256; ++j) {
      left[static_cast<size_t>(j)] = static_cast<std::uint16_t>(2 * j + 1);
      right[static_cast<size_t>(j)] = static_cast<std::uint16_t>(2 * j + 2);
    }
    up[0] = 0;
    for (int i = 1; i <= 512; ++i) up[static_cast<size_t>(i)] = static_cast<std::uint8_t>((i - 1) / 2);
    decode_node = 0;
  }

  // Moves the symbol's leaf towards the root (semi-splaying).
  void Splay(int symbol) {
    int a = 256 + symbol;
    while (a != 0) {
      int c = up[static_cast<size_t>(a)];
      if (c == 0) {
        a = c;
        continue;
      }
      int d = up[static_cast<size_t>(c)];
      int b = left[static_cast<size_t>(d)];
      if (c == b) {
        b = right[static_cast<size_t>(d)];
        right[static_cast<size_t>(d)] = static_cast<std::uint16_t>(a);
      } else {
        left[static_cast<size_t>(d)] = static_cast<std::uint16_t>(a);
      }
      if (a == left[static_cast<size_t>(c)])
        left[static_cast<size_t>(c)] = static_cast<std::uint16_t>(b);
      else
        right[static_cast<size_t>(c)] = static_cast<std::uint16_t>(b);
      up[static_cast<size_t>(a)] = static_cast<std::uint8_t>(d);
      up[static_cast<size_t>(b)] = static_cast<std::uint8_t>(c);
      a = d;
    }
  }
};

SplayTree& Tree() {
  static SplayTree tree;
  return tree;
}

class BitWriter {
public:
  explicit BitWriter(std::string& out) : out_(out) {}
  void Put(bool bit) {
    if (bit) byte_ |= static_cast<unsigned char>(1u << count_);
    if (++count_ == 8) Flush();
  }
  void Flush() {
    if (count_ == 0) return;
    out_ += static_cast<char>(byte_);
    byte_ = 0;
    count_ = 0;
  }

private:
  std::string& out_;
  unsigned char byte_ = 0;
  int count_ = 0;
};

void EncodeSymbol(SplayTree& tree, int symbol, BitWriter& bits, std::vector<bool>& path) {
  path.clear();
  int a = 256 + symbol;
  while (a != 0) {
    int parent = tree.up[static_cast<size_t>(a)];
    path.push_back(tree.right[static_cast<size_t>(parent)] == a);
    a = parent;
  }
  for (auto it = path.rbegin(); it != path.rend(); ++it) bits.Put(*it);
  tree.Splay(symbol);
}

// ---- byte-pair coding -----------------------------------------------------

constexpr int kFirstCode = 129;
constexpr int kLastCode = 255;
constexpr size_t kMaxBlockData = 65535;     // what the 16-bit length holds
constexpr size_t kChunkSource = 32767;      // source bytes per block when chained
constexpr size_t kMaxBlockOutput = 65535;   // no block of ours expands further

struct Pair {
  std::uint8_t first;
  std::uint8_t second;
};

// The source with every byte of 128 or more written as 128, byte - 128.
std::vector<std::uint8_t> Escape(std::string_view source) {
  std::vector<std::uint8_t> data;
  data.reserve(source.size() + source.size() / 4);
  for (char ch : source) {
    unsigned char c = U(ch);
    if (c >= 128) {
      data.push_back(128);
      data.push_back(static_cast<std::uint8_t>(c - 128));
    } else {
      data.push_back(c);
    }
  }
  return data;
}

// The most frequent adjacent pair (a later pair reaching an equal count
// wins, a count of 128 wins at once); false when none occurs three times.
// counts is all zero on entry and is left so.
bool ChoosePair(const std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& counts, Pair& chosen) {
  int best = -1;
  int best_count = 0;
  size_t scanned = 0;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    int key = (data[i] << 8) | data[i + 1];
    int c = ++counts[static_cast<size_t>(key)];
    scanned = i + 1;
    if (c >= best_count) {
      best = key;
      best_count = c;
    }
    if (c >= 128) break;
  }
  for (size_t i = 0; i < scanned; ++i) counts[static_cast<size_t>((data[i] << 8) | data[i + 1])] = 0;
  if (best_count < 3) return false;
  chosen = {static_cast<std::uint8_t>(best >> 8), static_cast<std::uint8_t>(best & 0xFF)};
  return true;
}

void ReplacePair(std::vector<std::uint8_t>& data, Pair pair, std::uint8_t code) {
  size_t out = 0;
  size_t i = 0;
  while (i < data.size()) {
    if (i + 1 >= data.size()) {
      data[out++] = data[i++];
    } else if (data[i] == pair.first && data[i + 1] == pair.second) {
      data[out++] = code;
      i += 2;
    } else {
      data[out++] = data[i];
      if (data[i + 1] == pair.first) {
        i += 1;
      } else {
        data[out++] = data[i + 1];
        i += 2;
      }
    }
  }
  data.resize(out);
}

// Codes one piece of source; pairs empty when none was worth replacing.
void CodeBlock(std::string_view source, std::vector<std::uint8_t>& data, std::vector<Pair>& pairs) {
  data = Escape(source);
  pairs.clear();
  std::vector<std::uint8_t> counts(65536);
  for (int code = kFirstCode; code <= kLastCode; ++code) {
    Pair pair;
    if (!ChoosePair(data, counts, pair)) break;
    ReplacePair(data, pair, static_cast<std::uint8_t>(code));
    pairs.push_back(pair);
  }
}

void AppendBlock(std::string& out, const std::vector<std::uint8_t>& data, std::vector<Pair> pairs) {
  if (pairs.empty()) pairs.push_back({0, 0});  // a block names at least one pair
  out += static_cast<char>(127 + pairs.size());
  out += static_cast<char>(data.size() & 0xFF);
  out += static_cast<char>(data.size() >> 8);
  out.append(data.begin(), data.end());
  for (const Pair& p : pairs) {
    out += static_cast<char>(p.second);
    out += static_cast<char>(p.first);
  }
}

// Expands the block at pos, appending to out. Returns the position after
// the block, or 0 when the block is damaged (decoding ends).
size_t DecodeBlock(std::string_view src, size_t pos, std::string& out, bool& data_too_long) {
  data_too_long = false;
  if (pos + 3 > src.size() || U(src[pos]) < 128) return 0;
  const size_t pair_count = U(src[pos]) - 127u;
  const size_t length = U(src[pos + 1]) | (static_cast<size_t>(U(src[pos + 2])) << 8);
  const size_t data_start = pos + 3;
  if (length > src.size() - data_start) {
    data_too_long = true;
    return 0;
  }
  const size_t table = data_start + length;
  const size_t available = std::min(pair_count, (src.size() - table) / 2);
  const size_t limit = out.size() + kMaxBlockOutput;

  std::uint8_t stack[2 * 128 + 2];
  bool escape = false;
  for (size_t i = data_start; i < table; ++i) {
    size_t depth = 0;
    stack[depth++] = U(src[i]);
    while (depth > 0) {
      std::uint8_t b = stack[--depth];
      if (b >= kFirstCode) {
        size_t index = b - static_cast<size_t>(kFirstCode);
        if (index >= available) return 0;
        std::uint8_t second = U(src[table + 2 * index]);
        std::uint8_t first = U(src[table + 2 * index + 1]);
        // Pairs refer only to earlier codes, which bounds the stack.
        if ((first >= kFirstCode && first >= b) || (second >= kFirstCode && second >= b)) return 0;
        stack[depth++] = second;
        stack[depth++] = first;
      } else if (b == 128) {
        escape = true;
      } else {
        if (out.size() >= limit) return 0;
        out += static_cast<char>(escape ? b + 128 : b);
        escape = false;
      }
    }
  }
  size_t next = table + 2 * pair_count;
  return next > src.size() ? src.size() : next;
}

}  // namespace

// ---- run-length coding ----------------------------------------------------

void IniRLE() {
  UnitState& state = MutableState();
  state.LastByte = 0;
  state.EscapePending = false;
}

std::string RLE(std::string_view source, std::size_t count) {
  std::string_view src = Window(source, count);
  std::string out;
  out.reserve(src.size() + src.size() / 8 + 1);
  UnitState& state = MutableState();
  int run = 0;
  for (char ch : src) {
    std::uint8_t b = U(ch);
    if (b == state.LastByte && run < 63) {
      ++run;
      continue;
    }
    if (run > 0) {
      out += static_cast<char>(192 + run);
      run = 0;
    }
    if (b >= 192) out += static_cast<char>(192);
    out += static_cast<char>(b);
    state.LastByte = b;
  }
  if (run > 0) out += static_cast<char>(192 + run);
  return out;
}

std::string RLD(std::string_view source, std::size_t count) {
  std::string_view src = Window(source, count);
  std::string out;
  out.reserve(src.size() * 2);
  UnitState& state = MutableState();
  for (char ch : src) {
    std::uint8_t b = U(ch);
    if (state.EscapePending || b < 192) {
      out += static_cast<char>(b);
      state.LastByte = b;
      state.EscapePending = false;
    } else if (b == 192) {
      state.EscapePending = true;
    } else {
      out.append(static_cast<size_t>(b & 63), static_cast<char>(state.LastByte));
    }
  }
  return out;
}

// ---- splay-tree coding ----------------------------------------------------

void IniSQZ() { Tree().Reset(); }

std::string SQZ(std::string_view source, std::size_t count) {
  std::string_view src = Window(source, count);
  std::string out;
  if (src.empty()) return out;
  out.reserve(src.size() + 4);
  SplayTree& tree = Tree();
  BitWriter bits(out);
  std::vector<bool> path;
  path.reserve(260);
  for (char ch : src) EncodeSymbol(tree, U(ch), bits, path);
  EncodeSymbol(tree, kEndSymbol, bits, path);
  bits.Flush();
  return out;
}

std::string UnSQZ(std::string_view source, std::size_t count) {
  std::string_view src = Window(source, count);
  std::string out;
  out.reserve(src.size() * 2);
  SplayTree& tree = Tree();
  for (char ch : src) {
    std::uint8_t byte = U(ch);
    for (int bit = 0; bit < 8; ++bit) {
      int node = tree.decode_node;
      node = ((byte >> bit) & 1) ? tree.right[static_cast<size_t>(node)] : tree.left[static_cast<size_t>(node)];
      if (node <= 255) {
        tree.decode_node = static_cast<std::uint16_t>(node);
        continue;
      }
      int symbol = node - 256;
      tree.Splay(symbol);
      tree.decode_node = 0;
      if (symbol == kEndSymbol) break;  // the rest of this byte is padding
      out += static_cast<char>(symbol);
    }
  }
  return out;
}

// ---- byte-pair coding -----------------------------------------------------

std::string BPE(std::string_view source, std::size_t count) {
  std::string_view src = Window(source, count);
  if (src.empty()) return {};
  size_t high = static_cast<size_t>(std::count_if(src.begin(), src.end(), [](char c) { return U(c) >= 128; }));
  std::vector<std::uint8_t> data;
  std::vector<Pair> pairs;
  std::string out;
  if (src.size() + high <= kMaxBlockData) {
    CodeBlock(src, data, pairs);
    if (pairs.empty() && U(src[0]) < 128) return std::string(src);
    AppendBlock(out, data, pairs);
    return out;
  }
  for (size_t pos = 0; pos < src.size(); pos += kChunkSource) {
    CodeBlock(src.substr(pos, kChunkSource), data, pairs);
    AppendBlock(out, data, pairs);
  }
  return out;
}

std::string BPD(std::string_view source, std::size_t count) {
  std::string_view src = Window(source, count);
  if (src.empty()) return {};
  if (U(src[0]) < 128) return std::string(src);
  std::string out;
  size_t pos = 0;
  bool first = true;
  while (pos < src.size()) {
    bool data_too_long = false;
    size_t next = DecodeBlock(src, pos, out, data_too_long);
    if (next == 0) {
      if (first && data_too_long) return {};
      break;
    }
    pos = next;
    first = false;
  }
  return out;
}

int LRC(std::string_view s) {
  std::uint8_t x = 0;
  for (char c : s) x ^= U(c);
  return x;
}

}  // namespace textutil
