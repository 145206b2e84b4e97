#include "memo/navigator.h"

#include <algorithm>

#include "memo/vell_memo.h"

namespace memo {

TVellNavigator::TVellNavigator(rtl::TComponent* owner) {
  TVellMemo* memo = nullptr;
  if (owner) {
    memo = dynamic_cast<TVellMemo*>(owner);
    if (!memo) throw rtl::Exception("Internal error: component is not a TVellMemo");
  }
  Bind(memo);
}

TVellNavigator::TVellNavigator(TVellMemo* memo) { Bind(memo); }

TVellNavigator::~TVellNavigator() {
  if (memo_) memo_->UnregisterNav(this);
  lines_.reset();
  if (OnFree) OnFree(this);
}

void TVellNavigator::Bind(TVellMemo* memo) {
  if (memo_ == memo) return;
  if (memo_) memo_->UnregisterNav(this);
  memo_ = memo;
  pos_ = 0;
  Invalidate();
  if (memo_) memo_->RegisterNav(this);
}

void TVellNavigator::Assign(const TVellNavigator& other) {
  pos_ = other.pos_;
  parNb_ = other.parNb_;
  parLine_ = other.parLine_;
  offset_ = other.offset_;
  dynNb_ = other.dynNb_;
  par_ = other.memo_ == memo_ ? other.par_ : nullptr;
  if (!par_) Invalidate();
  if (lines_) lines_->SetPar(par_);
}

void TVellNavigator::Invalidate() {
  par_ = nullptr;
  parNb_ = -1;
  offset_ = kUnset;
  dynNb_ = kUnset;
  parLine_ = kUnset;
  if (lines_) lines_->SetPar(nullptr);
}

void TVellNavigator::PointAt(int parNb) {
  parNb_ = parNb;
  par_ = memo_->Pars().At(parNb);
  if (lines_) lines_->SetPar(par_);
}

void TVellNavigator::PointAtRun(int parNb, int run, std::int32_t pos) {
  PointAt(parNb);
  dynNb_ = run;
  offset_ = par_->runs[run].offset;
  pos_ = pos;
  parLine_ = kUnset;
}

void TVellNavigator::EnsurePar() {
  if (par_ || !memo_) return;
  pos_ = std::clamp(pos_, 0, memo_->GetTextLen());
  PointAt(memo_->FindParOfPos(pos_));
  offset_ = pos_ - memo_->ParStart(parNb_);
  dynNb_ = kUnset;
  parLine_ = kUnset;
}

int TVellNavigator::GetParNb() {
  EnsurePar();
  return parNb_;
}

ParInfo* TVellNavigator::GetPar() {
  EnsurePar();
  return par_;
}

std::int32_t TVellNavigator::GetOffset() {
  EnsurePar();
  if (offset_ == kUnset) offset_ = pos_ - memo_->ParStart(parNb_);
  return offset_;
}

int TVellNavigator::GetDynNb() {
  EnsurePar();
  if (!par_) return 0;
  if (dynNb_ == kUnset) dynNb_ = par::RunIndexAt(*par_, GetOffset());
  return dynNb_;
}

int TVellNavigator::GetParLine() {
  EnsurePar();
  if (!par_) return 0;
  if (parLine_ == kUnset) {
    std::int32_t offset = GetOffset();
    int lo = 0, hi = par_->lineCount - 1;
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      if (par::Line(*par_, mid).end > offset) hi = mid; else lo = mid + 1;
    }
    parLine_ = lo;
  }
  return parLine_;
}

int TVellNavigator::GetLineNb() {
  EnsurePar();
  if (!par_) return 0;
  return memo_->ParFirstLine(parNb_) + GetParLine();
}

int TVellNavigator::GetColNb() {
  EnsurePar();
  if (!par_) return 0;
  return GetOffset() - par::Line(*par_, GetParLine()).start;
}

unsigned char TVellNavigator::GetText() {
  EnsurePar();
  if (!par_) return 0;
  std::int32_t offset = GetOffset();
  if (offset < par_->length) return static_cast<unsigned char>(par_->text[offset]);
  return offset == par_->length ? 13 : 10;
}

int TVellNavigator::GetTextBuf(char* buffer, int count) {
  int n = 0;
  if (memo_ && count > 0) {
    EnsurePar();
    int p = parNb_;
    std::int32_t offset = GetOffset();
    const int pars = memo_->GetParCount();
    while (n < count && p < pars) {
      const ParInfo& par = *memo_->Pars().At(p);
      if (offset < par.length) {
        int take = std::min(count - n, par.length - offset);
        std::memcpy(buffer + n, par.text + offset, take);
        n += take;
        offset += take;
        continue;
      }
      if (p == pars - 1) break;
      if (offset == par.length) {
        buffer[n++] = 13;
        ++offset;
      } else {
        buffer[n++] = 10;
        ++p;
        offset = 0;
      }
    }
  }
  buffer[n] = 0;
  return n;
}

const DynInfoRec* TVellNavigator::GetpDynInfo() {
  EnsurePar();
  dyn_info_ = par_ ? par::RecordBefore(*par_, GetDynNb()) : DynInfoRec();
  return &dyn_info_;
}

std::int32_t TVellNavigator::GetContext() {
  const DynInfoRec* run = GetpDynInfo();
  return run->flags == 0 ? 0 : run->context;
}

std::uint8_t TVellNavigator::GetStyle() {
  EnsurePar();
  if (!par_ || !memo_->StaticFormat()) return 0;
  const LineInfo& line = par::Line(*par_, GetParLine());
  std::int32_t stop = std::min(GetOffset(), par_->length);
  if (stop <= line.start) return static_cast<std::uint8_t>(line.startStyle);
  return ApplyStyleCodes(static_cast<std::uint8_t>(line.startStyle), par_->text + line.start, stop - line.start);
}

TPoint TVellNavigator::GetDisplayPos() {
  EnsurePar();
  if (!par_) return {};
  TPoint p;
  p.x = memo_->ColPos(par_, parNb_, GetColNb(), GetParLine());
  p.y = GetLineNb() * memo_->LineHeight() - memo_->TopOrigin();
  return p;
}

TLinesList* TVellNavigator::GetNavLines() {
  if (!lines_) lines_ = std::make_unique<TLinesList>();
  EnsurePar();
  lines_->SetPar(par_);
  return lines_.get();
}

void TVellNavigator::SetPos(std::int32_t pos) {
  if (par_) {
    std::int32_t start = memo_->ParStart(parNb_);
    bool inside = pos >= start && pos <= start + par_->length + 1;
    if (inside && pos >= pos_ && offset_ != kUnset) {
      offset_ = pos - start;
      if (dynNb_ != kUnset)
        while (dynNb_ < par_->runCount && par_->runs[dynNb_].offset < offset_) ++dynNb_;
      if (parLine_ != kUnset)
        while (parLine_ < par_->lineCount - 1 && par::Line(*par_, parLine_).end <= offset_) ++parLine_;
    } else {
      dynNb_ = kUnset;
      parLine_ = kUnset;
      if (inside) {
        offset_ = pos - start;
      } else {
        par_ = nullptr;
        parNb_ = -1;
        offset_ = kUnset;
        if (lines_) lines_->SetPar(nullptr);
      }
    }
  }
  pos_ = pos;
}

void TVellNavigator::setParNb(int index) {
  if (!memo_) return;
  index = std::clamp(index, 0, memo_->GetParCount() - 1);
  SetPos(memo_->ParStart(index));
}

void TVellNavigator::setParOffset(std::int32_t offset) {
  EnsurePar();
  if (!par_) return;
  offset = std::clamp(offset, 0, par_->length);
  SetPos(memo_->ParStart(parNb_) + offset);
}

void TVellNavigator::SetLineNb(int line) {
  if (!memo_) return;
  line = std::clamp(line, 0, memo_->LineCount() - 1);
  int p = memo_->FindParOfLine(line);
  int inPar = line - memo_->ParFirstLine(p);
  const ParInfo& par = *memo_->Pars().At(p);
  inPar = std::clamp(inPar, 0, par.lineCount - 1);
  std::int32_t pos = memo_->ParStart(p) + par::Line(par, inPar).start;
  if (parNb_ != p) {
    pos_ = pos;
    PointAt(p);
    offset_ = pos - memo_->ParStart(p);
  } else {
    pos_ = pos;
    offset_ = pos - memo_->ParStart(p);
  }
  parLine_ = inPar;
  dynNb_ = kUnset;
}

void TVellNavigator::SetParLine(int line) {
  EnsurePar();
  if (!par_) return;
  line = std::clamp(line, 0, par_->lineCount - 1);
  SetLineNb(memo_->ParFirstLine(parNb_) + line);
}

void TVellNavigator::SetColNb(int column) {
  EnsurePar();
  if (!par_) return;
  const LineInfo& line = par::Line(*par_, GetParLine());
  std::int32_t offset = line.start + std::max(column, 0);
  if (offset > line.end) offset = line.end;
  int keep = parLine_;
  pos_ = memo_->ParStart(parNb_) + offset;
  offset_ = offset;
  parLine_ = keep;
  dynNb_ = kUnset;
}

void TVellNavigator::SetDisplayPos(TPoint point) {
  if (!memo_) return;
  int height = std::max(memo_->LineHeight(), 1);
  int line = (memo_->TopOrigin() + point.y) / height;
  if (line >= 0 && line < memo_->LineCount()) {
    SetLineNb(line);
    SetColNb(memo_->ColNb(par_, parNb_, GetParLine(), point.x, false));
  } else {
    SetPos(memo_->GetTextLen());
  }
}

bool TVellNavigator::BackToDyn(std::int32_t limit) {
  EnsurePar();
  if (!par_) return false;
  int p = parNb_;
  int j = par::RunIndexAt(*par_, GetOffset()) - 1;
  while (j < 0) {
    if (memo_->ParStart(p) <= limit || p == 0) return false;
    --p;
    j = memo_->Pars().At(p)->runCount - 1;
  }
  const ParInfo& par = *memo_->Pars().At(p);
  std::int32_t at = memo_->ParStart(p) + par.runs[j].offset;
  if (at < limit) return false;
  PointAtRun(p, j, at);
  return true;
}

bool TVellNavigator::ForwardToDyn(std::int32_t limit) {
  EnsurePar();
  if (!par_) return false;
  int p = parNb_;
  int j = GetDynNb();
  const int pars = memo_->GetParCount();
  while (j >= memo_->Pars().At(p)->runCount) {
    const ParInfo& par = *memo_->Pars().At(p);
    if (memo_->ParStart(p) + par.length >= limit || p == pars - 1) return false;
    ++p;
    j = 0;
  }
  const ParInfo& par = *memo_->Pars().At(p);
  std::int32_t at = memo_->ParStart(p) + par.runs[j].offset;
  if (at > limit) return false;
  PointAtRun(p, j, at);
  return true;
}

void TVellNavigator::RightOfDyn() {
  EnsurePar();
  if (!par_) return;
  int j = GetDynNb();
  while (j < par_->runCount && par_->runs[j].offset == offset_) ++j;
  dynNb_ = j;
}

void TVellNavigator::AddDyn(const DynInfoRec& run) {
  EnsurePar();
  if (!par_) return;
  int j = GetDynNb();
  DynInfoRec r = run;
  r.offset = GetOffset();
  par::InsertRun(*par_, j, r);
  dynNb_ = j + 1;
}

void TVellNavigator::RemoveDyn() {
  EnsurePar();
  int j = par_ ? GetDynNb() : 0;
  if (j == 0 || par_->runs[j - 1].offset != offset_) throw rtl::Exception(kInternalError);
  par::RemoveRuns(*par_, j - 1, 1);
  dynNb_ = j - 1;
}

void InvalidateNavs(const std::vector<TVellNavigator*>& list, std::int32_t pos, int parNb) {
  for (TVellNavigator* nav : list) {
    if (nav->par_ && nav->pos_ > pos && nav->parNb_ <= parNb) {
      nav->dynNb_ = kUnset;
      nav->parLine_ = kUnset;
    }
  }
}

}  // namespace memo
