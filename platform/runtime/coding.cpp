#include "coding.h"

#include "streams.h"

namespace rtl {

namespace {
template <std::size_t N, typename Encode, typename T>
void Put(std::string& dst, Encode encode, T v) {
  char buf[N];
  encode(buf, v);
  dst.append(buf, N);
}

template <std::size_t N, typename Decode, typename T>
bool Get(std::string_view& src, Decode decode, T& v) {
  if (src.size() < N) return false;
  v = decode(src.data());
  src.remove_prefix(N);
  return true;
}

template <std::size_t N, typename Encode, typename T>
void Write(TStream& s, Encode encode, T v) {
  unsigned char buf[N];
  encode(buf, v);
  s.WriteBuffer(buf, N);
}

template <std::size_t N, typename Decode>
auto Read(TStream& s, Decode decode) {
  unsigned char buf[N];
  s.ReadBuffer(buf, N);
  return decode(buf);
}
}  // namespace

void PutFixed16(std::string& dst, std::uint16_t v) { Put<2>(dst, EncodeFixed16, v); }
void PutFixed32(std::string& dst, std::uint32_t v) { Put<4>(dst, EncodeFixed32, v); }
void PutFixed64(std::string& dst, std::uint64_t v) { Put<8>(dst, EncodeFixed64, v); }
void PutDouble(std::string& dst, double v) { Put<8>(dst, EncodeDouble, v); }

bool GetFixed16(std::string_view& src, std::uint16_t& v) { return Get<2>(src, DecodeFixed16, v); }
bool GetFixed32(std::string_view& src, std::uint32_t& v) { return Get<4>(src, DecodeFixed32, v); }
bool GetFixed64(std::string_view& src, std::uint64_t& v) { return Get<8>(src, DecodeFixed64, v); }
bool GetDouble(std::string_view& src, double& v) { return Get<8>(src, DecodeDouble, v); }

void WriteFixed16(TStream& s, std::uint16_t v) { Write<2>(s, EncodeFixed16, v); }
void WriteFixed32(TStream& s, std::uint32_t v) { Write<4>(s, EncodeFixed32, v); }
void WriteFixed64(TStream& s, std::uint64_t v) { Write<8>(s, EncodeFixed64, v); }
void WriteDouble(TStream& s, double v) { Write<8>(s, EncodeDouble, v); }
std::uint16_t ReadFixed16(TStream& s) { return Read<2>(s, DecodeFixed16); }
std::uint32_t ReadFixed32(TStream& s) { return Read<4>(s, DecodeFixed32); }
std::uint64_t ReadFixed64(TStream& s) { return Read<8>(s, DecodeFixed64); }
double ReadDouble(TStream& s) { return Read<8>(s, DecodeDouble); }

}  // namespace rtl
