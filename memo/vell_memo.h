// TVellMemo: the rich-text memo. It owns its text model, navigators,
// keyword and start/stop lists, undo list and highlighter reference, and
// works fully without a window: text, editing, undo, highlighting, search
// and the three stream formats. A window (TMemoWindow) is attached only
// when the memo is shown or asked for one; without it every paragraph is
// one display line, whatever WordWrap says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "memo/case_fold.h"
#include "memo/keyword_list.h"
#include "memo/memo_errors.h"
#include "memo/memo_types.h"
#include "memo/view_state.h"
#include "memo/memo_window.h"
#include "memo/message_poster.h"
#include "memo/navigator.h"
#include "memo/relayout_hint.h"
#include "memo/text_measurer.h"
#include "memo/text_model.h"
#include "memo/undo_list.h"
#include "platform/runtime/classes.h"
#include "platform/runtime/streams.h"
#include "platform/runtime/strings.h"

namespace memo {

class TVellHighlighter;
class TVellLinesStrings;
class TVellParaStrings;

using TParseEvent = std::function<void(TVellMemo* sender, std::int32_t startOffset, std::int32_t stopOffset)>;
using TContextEvent = std::function<void(TVellMemo* sender, std::int32_t context, std::int32_t startOffset,
                                         std::int32_t stopOffset)>;
using TvmBeforeChangeEvent = std::function<void(TVellMemo* sender, const char*& text)>;
using TMemoNotifyEvent = std::function<void(TVellMemo* sender)>;

// The least time between two progress reports of the formatting loops.
extern int ProgressInterval;

// Texts of lines copied ahead, in any order, into paragraph buffers of an
// arena of their own, so that a load of the same lines in another order
// (TParagraphSource::Prepared) only places them. Each text is placed in
// one paragraph at most; a load that places any takes the arena over, and
// texts never placed go with this object.
class TPreparedTexts {
public:
  static constexpr std::size_t kNone = SIZE_MAX;
  // A load of fewer lines makes its paragraphs on one thread, copying
  // their texts as it goes: preparing them ahead gains nothing there.
  static constexpr std::size_t kWorthFrom = 32768;
  // Runs body(part) for every part < parts on this thread and others, as
  // TParagraphSource::RunParts does; null: threads started for them.
  using PartsRunner = std::function<void(std::size_t parts, const std::function<void(std::size_t)>& body)>;
  // Copies count lines (line(i) gives line i) as the prepared lines, in up
  // to most_parts parts of at least 4,096 lines (a thread each, or through
  // run_parts when given), the buffers from the calling thread's heap; the
  // calling thread calls tick per line it copies. Once tick answers false
  // every part stops: false, nothing prepared. A text too long for an arena
  // buffer is left to the load to copy. With copied, copied(i) is called on
  // the part's thread once line i's text is prepared (its owner may then
  // let the line go), and a copy stopped part way keeps the texts it
  // prepared.
  bool Copy(std::size_t count, const std::function<std::string_view(std::size_t)>& line, std::size_t most_parts,
            const std::function<bool()>& tick, const PartsRunner& run_parts = nullptr,
            const std::function<void(std::size_t)>& copied = nullptr);
  std::size_t Count() const { return count_; }

  // 16 bytes: a page's records are cleared, looked up and placed for every
  // line, each of their pages a fault the first time.
  struct Prepared {
    char* text = nullptr;  // a paragraph's buffer: the text, then a NUL
    // Below TTextArena::kLargest: longer texts are not prepared.
    std::uint32_t length : 30 = 0;
    std::uint32_t controlled : 1 = 0;  // holds a byte below 22
    std::uint32_t breaks : 1 = 0;      // holds CR, LF or NUL: a load cuts it
    // The line a load places the text in, noted as it looks at its lines.
    mutable std::uint32_t owner = 0;
    // The buffer's size, as the text was copied into it.
    std::int32_t Capacity() const { return static_cast<std::int32_t>(par::TextBufferBytes(length)); }
  };
  static_assert(TTextArena::kLargest < (std::size_t{1} << 30), "a prepared text's length fits its record");
  // Line index's text; nullptr when none was prepared (empty or too long).
  const Prepared* Find(std::size_t index) const {
    return index < count_ && lines_.get()[index].text != nullptr ? &lines_.get()[index] : nullptr;
  }
  // Line index will be looked up soon: its record is fetched meanwhile (a
  // load in another order finds them anywhere among the others).
  void Prefetch(std::size_t index) const {
    if (index < count_) __builtin_prefetch(lines_.get() + index);
  }

private:
  friend class TVellMemo;
  static_assert(std::is_trivially_destructible_v<Prepared>, "records are let go without being destroyed");
  struct FreeRecords {
    void operator()(Prepared* records) const { ::operator delete(records); }
  };
  TTextArena arena_;
  // count_ records, each made by the part of Copy that fills it (the first
  // touch of their pages spread over its threads).
  std::unique_ptr<Prepared, FreeRecords> lines_;
  std::size_t count_ = 0;
};

// Lines a memo reads into its paragraphs (TVellMemo::LoadParagraphs), by
// number, twice: once to look at them, once to copy them. Many lines are
// read in parts on several threads at once (each part front to back, each
// line by one thread), so the three calls must allow that.
class TParagraphSource {
public:
  virtual ~TParagraphSource() = default;
  // Texts prepared ahead for some lines, and which of them is line i's
  // (TPreparedTexts::kNone for none); each prepared text is line i's for
  // one i at most.
  virtual TPreparedTexts* Prepared() const { return nullptr; }
  virtual std::size_t PreparedIndex(std::size_t) const { return TPreparedTexts::kNone; }
  virtual std::size_t Count() const = 0;
  virtual std::string_view Line(std::size_t i) const = 0;
  // Line i will be read soon (lines held apart in memory fetch it ahead).
  virtual void Prefetch(std::size_t) const {}
  // Line i has been copied into its paragraph and may go.
  virtual void Read(std::size_t) {}
  // Runs body(part) for every part < parts, in any order, on this thread
  // and others, and returns once all are done (body does not throw). By
  // default each part but one gets a thread started for it; a source may
  // hand the parts to threads it keeps.
  virtual void RunParts(std::size_t parts, const std::function<void(std::size_t)>& body) const;
  // The parts a load cuts for each thread it would use: more than one where
  // RunParts hands the parts out as its threads come free, so that a thread
  // slowed down (its core shared) leaves the rest of its share to others.
  virtual std::size_t PartsPerThread() const { return 1; }
};

class TVellMemo : public rtl::TComponent {
  // First, so that the public names bound to its fields below refer to a
  // constructed object.
  TMemoViewState view_;

public:
  static constexpr std::int32_t kMaxParLength = 2147483547;

  explicit TVellMemo(rtl::TComponent* owner = nullptr);
  ~TVellMemo() override;
  std::string ClassName() const override { return "TVellMemo"; }

  // ---- window, message queue, attached components ----

  // nullptr detaches. With a window the memo lays text out with the
  // window's measurer and client width.
  void AttachWindow(TMemoWindow* window);
  bool HasWindow() const { return window_ != nullptr; }
  TMemoWindow* Window() const { return window_; }
  void SetPoster(TMessagePoster* poster) { poster_ = poster; }
  TMessagePoster* Poster() const { return poster_; }

  // Dispatches a message: copied into LastMessage, shown to every attached
  // component (Notification with the memo and operation 64), then handled.
  std::intptr_t Perform(std::uint32_t msg, std::intptr_t wparam = 0, std::intptr_t lparam = 0);
  virtual void WndProc(TMessage& message);
  const TMessage& LastMessage() const { return last_message_; }
  void AttachComponent(rtl::TComponent* component);
  // Leaves a nil entry, dropped after the next broadcast.
  void DetachComponent(rtl::TComponent* component);
  int AttachedCount() const;

  // ---- state the window layer drives (keyboard, mouse, caret) ----

  // How far the caret stands beyond the end of its line, in blanks.
  int VirtualCols() const { return virtual_cols_; }
  void SetVirtualCols(int count) { virtual_cols_ = count > 0 ? count : 0; }
  // The x that vertical moves keep; kNoCaretX when none. setSelStart and
  // every edit unset it. (A name for the field of the view state.)
  static constexpr int kNoCaretX = TMemoViewState::kNoCaretX;
  int& RememberedCaretX = view_.remembered_caret_x;
  // Column blocks: the block columns in visual columns (tabs expanded).
  int BlockColA() const { return block_col_a_; }
  int BlockColB() const { return block_col_b_; }
  void SetColumnBlock(bool on, int colA, int colB) {
    column_block_ = on;
    block_col_a_ = colA;
    block_col_b_ = colB;
  }
  // Set when the caret was moved since the last edit: the next edit opens
  // a new undo step.
  bool CaretMoved() const { return undo_.caretMoved; }
  void SetCaretMoved(bool moved) { undo_.caretMoved = moved; }
  // Ties the last undo step to the one before (one Undo takes back both).
  void LinkLastUndoStep() {
    if (undo_.Index() > 0) undo_.At(undo_.Index() - 1).linked = true;
  }

  // ---- virtual operations ----

  // Lays out one paragraph; returns the change in its number of lines.
  // After an edit inside the paragraph only the lines the edit can reach
  // are laid out again, up to where the new line ends meet the old ones;
  // force lays it out whole.
  virtual int ReformatPar(int parNb, bool force);
  virtual void Change();
  virtual int ColPos(ParInfo* par, int parNb, int column, int lineInPar);
  virtual int ColNb(ParInfo* par, int parNb, int lineInPar, int x, bool keepTab);
  virtual int LinePos(int row);
  virtual int LineNb(int y);
  virtual void SetDynStyleP(TVellNavigator* startNav, TVellNavigator* stopNav, const DynInfoRec& record,
                            bool refresh, bool apply);
  virtual void ApplyKeywordsList(TVellNavigator* startNav, TVellNavigator* stopNav);
  virtual void ApplyStartStopKeyList(TVellNavigator* startNav, TVellNavigator* stopNav);
  virtual void SetSelTextBuf(const char* text);
  virtual void LoadFromNativeStream(rtl::TStream& stream, bool reformat);
  virtual void LoadFromStream(rtl::TStream& stream);
  // Replaces the text by the source's lines, one paragraph each, as loading
  // them joined by CR LF would, without that text. Lines the load would cut
  // otherwise (holding a CR, an LF or a NUL, or too long for one paragraph)
  // are refused whole: false, and nothing changed.
  bool LoadParagraphs(TParagraphSource& source);
  virtual void SaveToNativeStream(rtl::TStream& stream);
  virtual void SaveToStream(rtl::TStream& stream);

  // ---- properties ----

  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool value);
  rtl::TStrings* Lines();
  void SetLines(const rtl::TStrings& lines);
  rtl::TStrings* Paragraphs();
  const TMemoFont& Font() const { return font_; }
  void SetFont(const TMemoFont& font);
  const TMemoFont& AltFont() const { return alt_font_; }
  void SetAltFont(const TMemoFont& font);
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  bool ApplyKeywords() const { return apply_keywords_; }
  void SetApplyKeywords(bool value);
  bool ApplyStartStopKeys() const { return apply_start_stop_keys_; }
  void SetApplyStartStopKeys(bool value);
  int CaretWidth() const { return caret_width_; }
  void SetCaretWidth(int value);
  bool DisplayOnly() const { return display_only_; }
  void SetDisplayOnly(bool value) { display_only_ = value; }
  bool EnableHotKeys() const { return enable_hot_keys_; }
  void SetEnableHotKeys(bool value) { enable_hot_keys_ = value; }
  TColor HighlightBackgnd() const { return highlight_backgnd_; }
  void SetHighlightBackgnd(TColor value);
  TColor HighlightColor() const { return highlight_color_; }
  void SetHighlightColor(TColor value);
  bool HideSelection() const { return hide_selection_; }
  void SetHideSelection(bool value) { hide_selection_ = value; }
  TVellHighlighter* Highlighter() const { return highlighter_; }
  void SetHighlighter(TVellHighlighter* highlighter);
  bool Justified() const { return justified_; }
  void SetJustified(bool value);
  TKeywordList& Keywords() { return *keywords_; }
  int LeftMargin() const { return left_margin_; }
  void SetLeftMargin(int value);
  int RightMargin() const { return right_margin_; }
  void SetRightMargin(int value);
  TVellLineBreak LineBreak() const { return line_break_; }
  void SetLineBreak(TVellLineBreak value) { line_break_ = value; }
  int LineHeight() const { return line_height_; }
  void SetLineHeight(int value);
  int MouseWheelFactor() const { return view_.mouse_wheel_factor; }
  void SetMouseWheelFactor(int value) { view_.mouse_wheel_factor = value; }
  char NullReplacement() const { return null_replacement_; }
  void SetNullReplacement(char value) { null_replacement_ = value; }
  TVellMemoOptions Options() const { return options_; }
  void SetOptions(TVellMemoOptions value);
  bool Overwrite() const { return overwrite_; }
  void SetOverwrite(bool value) { overwrite_ = value; }
  bool PassOverCodes() const { return pass_over_codes_; }
  void SetPassOverCodes(bool value) { pass_over_codes_ = value; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  TColor SelBackColor() const { return sel_back_color_; }
  void SetSelBackColor(TColor value) { sel_back_color_ = value; }
  TColor SelTextColor() const { return sel_text_color_; }
  void SetSelTextColor(TColor value) { sel_text_color_ = value; }
  std::string Separators() const { return CharSetToString(delimiters_); }
  void SetSeparators(const std::string& value) { setDelimiters(CharSetOf(value)); }
  const TCharSet& Delimiters() const { return delimiters_; }
  void setDelimiters(const TCharSet& value);
  bool ShowEndParSelected() const { return show_end_par_selected_; }
  void SetShowEndParSelected(bool value) { show_end_par_selected_ = value; }
  TStartStopKeyList& StartStopKeys() { return *start_stop_keys_; }
  bool StaticFormat() const { return static_format_; }
  void SetStaticFormat(bool value);
  int TabStops() const { return tab_stops_; }
  void SetTabStops(int value);
  int UndoMaxSpace() const { return undo_.MaxSpace(); }
  void setUndoMaxSpace(int value) { undo_.SetMaxSpace(value); }
  int UndoMaxLevel() const { return undo_.MaxLevel(); }
  void setUndoMaxLevel(int value) { undo_.SetMaxLevel(value); }
  TvmUpperCase UpperCaseType() const { return upper_case_type_; }
  void SetUpperCaseType(TvmUpperCase value);
  TUpdateMode UpdateMode() const { return update_mode_; }
  void SetUpdateMode(TUpdateMode value);
  std::string Version() const { return "VellMemo 2.0"; }
  bool WantTabs() const { return want_tabs_; }
  void SetWantTabs(bool value) { want_tabs_ = value; }

  // Set by every text change; the memo never clears it.
  bool Modified = false;

  // ---- events ----

  TMemoNotifyEvent OnChange;
  TvmBeforeChangeEvent OnBeforeChange;
  TMemoNotifyEvent OnSelMove;
  TMemoNotifyEvent OnStyleChange;
  TMemoNotifyEvent OnHScroll;
  TMemoNotifyEvent OnVScroll;
  TMemoNotifyEvent OnProgress;
  // Called between blocks while a text loads (SetText, LoadFromStream);
  // answering false stops the load, leaving the paragraphs read so far.
  std::function<bool()> OnLoadStep;
  TParseEvent OnParse;
  TContextEvent OnContext;

  // ---- text ----

  void Clear();
  void ClearSelection();
  void SelectAll();
  void SetTextBuf(const char* text);
  void SetText(std::string_view text);
  std::string GetText() { return GetTextPart(0, text_len_); }
  int GetTextBuf(char* buffer, int size);
  std::int32_t GetTextLen() const { return text_len_; }
  int GetSelTextBuf(char* buffer, int size);
  std::string GetTextPart(std::int32_t start, std::int32_t stop);
  // nullptr when start lies beyond stop.
  std::unique_ptr<char[]> GetTextPartBuf(std::int32_t start, std::int32_t stop);
  bool FindTxt(const std::string& text, bool forward, bool wholeWord, bool matchCase);
  unsigned char getChar(std::int32_t pos);
  std::string getCurrentWord();
  TExtFontStyles getCurrentStyle();
  TExtFontStyles AttrToExtFontStyles(std::uint8_t staticStyles, std::uint8_t runAttr) const;

  int GetParCount() const { return pars_.Count(); }
  int LineCount() const { return line_count_; }
  std::string getParagraphs(int index);
  // Paragraph index's text as getParagraphs gives it, without a copy: valid
  // until the text changes.
  std::string_view ParagraphView(int index) const;
  void setParagraphs(int index, const std::string& text);
  std::string getParsBuf(int index) { return getParagraphs(index); }
  void setParsBuf(int index, const char* text);
  std::string getLines(int index);
  std::string getLinesBuf(int index) { return getLines(index); }
  std::int32_t getParsOffset(int index) const;
  TColor getParBackgnd(int index) const;
  void setParBackgnd(int index, TColor color);
  TColor getParForegnd(int index) const;
  void setParForegnd(int index, TColor color);

  // ---- selection ----

  void setSelPar(int index);
  int getSelPar();
  void setSelStart(std::int32_t pos);
  std::int32_t getSelStart() const;
  void setSelLength(std::int32_t length);
  std::int32_t getSelLength() const;
  void setSelLine(int line);
  int getSelLine();
  void setSelCol(int column);
  int getSelCol();
  std::string getSelText();
  void setSelText(const std::string& text);
  std::int32_t GetSelContext();
  // Static styles: SetSelAttrib with codes 2, 1, 21, 3, 4.
  void SetSelAttrib(unsigned char code);
  void SetBold() { SetSelAttrib(2); }
  void SetItalic() { SetSelAttrib(1); }
  void SetUnderline() { SetSelAttrib(21); }
  void SetHighlight() { SetSelAttrib(3); }
  void SetAltFont() { SetSelAttrib(4); }
  // Column blocks (only without word wrap).
  void SelectBlock(int columnA, int paragraphA, int paragraphB, int columnB);
  std::string SelectedBlockText();
  bool HasColumnBlock() const { return column_block_; }
  TRect GetColumnBlockXY();

  // ---- dynamic styles ----

  void SetDynStyle(std::int32_t start, std::int32_t stop, TFontStyles styles, bool flag, std::int32_t context,
                   TCursor cursor, TColor color1, TColor color2);
  void ClearStyle(std::int32_t pos);
  void ClearStyleRange(std::int32_t start, std::int32_t stop);
  std::string DynText(std::int32_t start, std::int32_t stop);
  void SetDynText(std::int32_t start, std::int32_t stop, const std::string& snapshot);

  // ---- highlighting, layout and refresh ----

  void ReApplyKeywords();
  void Reformat();
  void FormatNow(int first, int last, bool force);
  void ParseStartStopNow(int paragraph);
  void RefreshDisplay();
  void InvalidateLines(int first, int last, bool erase);
  // Lays the whole text out for another measuring context (printing).
  // nullptr returns to the memo's own window.
  void FormatText(TTextMeasurer* measurer, int width);
  void ExtendMods(int paragraph, int lineOffset, int lastParagraph);
  // Raises Exception "Error n..." + Version at the first inconsistency.
  void CheckIntegrity();
  // A fresh upper-cased copy of count characters of a paragraph, valid
  // until the next call or the next replacement of the whole text.
  char* GetUpText(const ParInfo* par, int parNb, std::int32_t start, std::int32_t count);

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return update_count_; }

  // ---- scrolling (pixel origins; the window layer draws) ----

  void setTopLine(int line);
  int getTopLine();
  void setTopOrigin(int y) { SetTopLeft(y, view_.display_left); }
  void setDisplayLeft(int x) { SetTopLeft(view_.top_origin, x); }
  void SetTopLeft(int top, int left);
  int TopOrigin() const { return view_.top_origin; }
  int DisplayLeft() const { return view_.display_left; }
  // Origins, client size, remembered caret x and wheel factor.
  const TMemoViewState& ViewState() const { return view_; }
  int VisibleLines() const;
  int WidestLine() const { return widest_width_; }

  // ---- undo ----

  bool getCanUndo() const;
  bool getCanRedo() const;
  int getUndoCount() const { return undo_.Count(); }
  const UndoRecord& getUndoList(int i) const { return undo_.At(i); }
  void Undo();
  void Redo();
  void ClearUndo() { undo_.Clear(); }
  void RemoveUndo(int i) { undo_.Remove(i); }

  // ---- streams ----

  void SaveToRTFStream(rtl::TStream& stream, bool withDynamicStyles);
  // The stored "Strings" property: one or more strings per paragraph.
  bool StringsStored() const { return text_len_ >= 1; }
  std::vector<std::string> WriteStringsProperty();
  void ReadStringsProperty(const std::vector<std::string>& strings);

  // ---- model access for navigators, views and tests ----

  TParagraphsList& Pars() { return pars_; }
  const TParagraphsList& Pars() const { return pars_; }
  std::int32_t ParStart(int index) const { return pars_.Start(index); }
  int ParFirstLine(int index) const { return pars_.FirstLine(index); }
  // The paragraph holding position pos / display line line.
  int FindParOfPos(std::int32_t pos) const;
  int FindParOfLine(int line) const;
  const std::vector<TVellNavigator*>& Navigators() const { return navigators_; }
  TVellNavigator& SelStartNav() { return *sel_start_; }
  TVellNavigator& SelEndNav() { return *sel_end_; }
  TVellNavigator& CaretNav() { return *caret_; }
  TVellNavigator& TopNav() { return *top_nav_; }
  int LastParsed() const { return last_parsed_; }
  // The pending background range (next, last; last -1 when none).
  int BackgroundNext() const { return bg_next_; }
  int BackgroundLast() const { return bg_last_; }
  // Progress of formatting in percent, as reported by OnProgress.
  int Progress() const { return progress_; }
  // Lowers the paragraph length limit (tests of the "Text too long" check).
  void SetParLengthLimit(std::int32_t limit) { par_length_limit_ = limit; }

private:
  friend class TVellNavigator;
  friend class TVellHighlighter;
  friend class TVellLinesStrings;
  friend class TVellParaStrings;

  // Navigator registry.
  void RegisterNav(TVellNavigator* nav);
  void UnregisterNav(TVellNavigator* nav);
  void InvalidateAllNavs();

  // Editing core helpers (edit_core.cpp).
  struct Splice;
  void ReplaceRange(std::string_view text);
  void DoSplice(Splice& s);
  void SpliceInParagraph(Splice& s);
  void SpliceAcrossParagraphs(Splice& s);
  void DiscardTrailingBlanks(Splice& s);
  std::string BalancingCodes(const Splice& s) const;
  std::int64_t CheckedInsertLength(const Splice& s, std::int32_t removed) const;
  void FollowSplice(const Splice& s, std::int32_t startPos, std::int32_t endPos, std::int32_t delta, int countDelta);
  void KeepUserRunsAtEdges(const Splice& s, const DynInfoRec& stateAtStart, const DynInfoRec& stateAtEnd,
                           std::int32_t startPos, std::int32_t inserted);
  void RemoveEmptyPairs(int firstPar, int lastPar);
  void SnapSelection();
  void RecordUndo(std::int32_t start, std::int32_t end, std::int32_t insertedLength);
  UndoRecord* ReplayStep(const std::string& text);
  void ReplayLinked(void (TVellMemo::*steps)());
  void UndoSteps();
  void RedoSteps();

  // Text model helpers.
  void ClearModel();
  void ResetToOneEmptyParagraph();
  std::uint8_t StyleAtParStart(int index) const;
  void SetParLines(int index, int newCount);  // adjusts line count and first lines
  void SetLayout(int index, const std::vector<LineInfo>& lines);
  // Lines first.. of paragraph index become `lines`, followed by the old
  // lines from keepFrom on (none when -1), whose run counts move by
  // runDelta.
  void ReplaceLines(int index, int first, const std::vector<LineInfo>& lines, int keepFrom, int runDelta);
  void ShiftStylesAfter(int index, std::uint8_t diff);

  // Highlighting (keyword_apply.cpp).
  void ApplyKeywordsPar(int index);
  void StripKeywordRuns(ParInfo& p);
  void ParseStartStopPar(int index);
  void PropagateEndState(int index);
  bool EnsureParsed(int index);
  DynInfoRec EnclosingState(int index, const DynInfoRec& run, int level);
  DynInfoRec PairRun(int pair, const DynInfoRec& base, int level) const;
  // restore false: no run restoring the state after the range is added at
  // its stop (a user run in force at a paragraph's end goes on after it).
  void SetDynRange(int p1, std::int32_t o1, int p2, std::int32_t o2, const DynInfoRec& record, bool apply,
                   bool restore = true);

  // Refresh and formatting (memo_format.cpp).
  void EndUpdateRefresh();
  void BackgroundSlice(bool continuation);
  void PostBackground();
  void ReportProgress(int percent, bool force);
  TTextMeasurer* CurrentMeasurer() const;
  int AvailableWidth() const;
  void DropLineCaches(int firstPar, int lastPar);
  // The top line follows the text it shows once the lines above the view or
  // of its top paragraph changed: the top navigator goes to the start of
  // the display line holding it and the origin to that line (the same part
  // of a line scrolled out), so that the two always agree.
  void AlignTopOrigin();
  // Reformat with every paragraph already marked unformatted (as a load
  // makes them): no walk over the whole text to mark them.
  void FormatAgain();

  // Streams (plain_text.cpp, native_image.cpp).
  // One step of a text load: false when OnLoadStep stops it; reports the
  // progress at most every 300 ms.
  bool LoadStep(std::int64_t consumed, std::int64_t total, std::int64_t& last_report);
  void FinishTextLoad();
  void ResetViewAfterLoad();

  // Set by a load that just made every paragraph unformatted, until one is
  // formatted or the load is finished: its end needs not walk them all to
  // mark them so.
  bool unformatted_load_ = false;
  // ---- state ----
  TParagraphsList pars_;
  std::int32_t text_len_ = 0;
  int line_count_ = 1;

  std::vector<TVellNavigator*> navigators_;
  std::unique_ptr<TVellNavigator> sel_start_;
  std::unique_ptr<TVellNavigator> sel_end_;
  TVellNavigator* caret_ = nullptr;
  std::unique_ptr<TVellNavigator> top_nav_;
  std::unique_ptr<TVellNavigator> work_[10];
  std::unique_ptr<TVellNavigator> line_nav_;
  std::unique_ptr<TVellNavigator> scratch_[3];

  UndoList undo_;
  std::unique_ptr<TKeywordList> keywords_;
  std::unique_ptr<TStartStopKeyList> start_stop_keys_;
  TVellHighlighter* highlighter_ = nullptr;
  TCharSet delimiters_;
  std::string up_text_;

  std::unique_ptr<TVellLinesStrings> lines_;
  std::unique_ptr<TVellParaStrings> paragraphs_;

  TMemoWindow* window_ = nullptr;
  TMessagePoster* poster_ = nullptr;
  TTextMeasurer* foreign_measurer_ = nullptr;
  int foreign_width_ = 0;
  std::vector<rtl::TComponent*> attached_;
  TMessage last_message_;

  // The span an edit changed in a laid-out paragraph (relayout_hint.h).
  TRelayoutHint relayout_;

  // Pending refresh range.
  int update_count_ = 0;
  int mod_first_line_ = -1;
  int mod_first_par_ = -1;
  int mod_last_par_ = -1;

  // Background formatting.
  int bg_next_ = 0;
  int bg_last_ = -1;
  bool bg_running_ = false;
  bool bg_posted_ = false;
  int progress_ = 100;
  std::int64_t last_progress_ms_ = 0;
  int last_parsed_ = -1;
  int formatted_up_to_ = 0;
  int widest_width_ = 0;
  int widest_par_ = -1;

  // Editing switches.
  bool replacing_par_ = false;
  bool balance_codes_ = true;
  bool remove_empty_pairs_ = true;
  bool in_pair_removal_ = false;
  int virtual_cols_ = 0;
  bool column_block_ = false;
  int block_col_a_ = 0;
  int block_col_b_ = 0;
  std::int32_t par_length_limit_ = kMaxParLength;
  UndoRecord* last_recorded_ = nullptr;

  // Properties.
  TAlignment alignment_ = taLeftJustify;
  bool word_wrap_ = true;
  TMemoFont font_;
  TMemoFont alt_font_;
  TColor color_ = clWindow;
  bool apply_keywords_ = true;
  bool apply_start_stop_keys_ = true;
  int caret_width_ = 1;
  bool display_only_ = false;
  bool enable_hot_keys_ = true;
  TColor highlight_backgnd_ = clWindow;
  TColor highlight_color_ = clRed;
  bool hide_selection_ = true;
  bool justified_ = false;
  int left_margin_ = 8;
  int right_margin_ = 8;
  TVellLineBreak line_break_ = vbCRLF;
  int line_height_ = 12;
  bool auto_line_height_ = true;
  char null_replacement_ = 0;
  TVellMemoOptions options_{vmoWrapCaret, vmoInsertKeyActive, vmoWideOverwriteCaret, vmoAutoScrollBars,
                            vmoBlockSelection};
  bool overwrite_ = false;
  bool pass_over_codes_ = true;
  bool read_only_ = false;
  TColor sel_back_color_ = clHighlight;
  TColor sel_text_color_ = clHighlightText;
  bool show_end_par_selected_ = true;
  bool static_format_ = true;
  int tab_stops_ = 8;
  TvmUpperCase upper_case_type_ = vmuAscii;
  TUpdateMode update_mode_ = umBackground;
  bool want_tabs_ = true;
};

}  // namespace memo
